orvex_test(core_ipc_messages LABEL unit SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/IPCProtocolTest.cpp)
orvex_test(core_ipc_transport LABEL component SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/IPCTestServer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UnixSocketTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DaemonClientTest.cpp)
