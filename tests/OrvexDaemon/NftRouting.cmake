orvex_test(daemon_nft_routing LABEL component LIBS OrvexDaemon SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/NftRoutingTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FakeNetfilter.cpp)
orvex_test(daemon_nft_tunnel LABEL component TIMEOUT 120 LIBS OrvexDaemon SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/NftTunnelTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FakeEngine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FakeNetfilter.cpp)
