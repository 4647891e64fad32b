orvex_test(daemon_nft LABEL component LIBS OrvexDaemon SOURCES ${CMAKE_CURRENT_LIST_DIR}/NftTest.cpp)
