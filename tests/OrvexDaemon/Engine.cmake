orvex_test(daemon_engine LABEL unit LIBS OrvexDaemon SOURCES ${CMAKE_CURRENT_LIST_DIR}/EngineTest.cpp)
