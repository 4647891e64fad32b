orvex_test(daemon_routing LABEL unit LIBS OrvexDaemon SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/RoutingTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ScriptedRunner.cpp)
orvex_test(daemon_routing_system LABEL component TIMEOUT 300 LIBS OrvexDaemon SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/RoutingSystemTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ScriptedRunner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FakeSystem.cpp)
