# The core library's tests: quick unit programs, then the ones with real servers and processes.
orvex_test(core_base LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/BaseTest.cpp)
orvex_test(core_texts LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/TextsTest.cpp)
orvex_test(core_messages LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/MessagesTest.cpp)
orvex_test(core_engine_config LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/EngineConfigTest.cpp)
orvex_test(core_api LABEL component SOURCES ${CMAKE_CURRENT_LIST_DIR}/NetworkTest.cpp LIBS AccountServerFixture)
orvex_test(core_ipc_transport LABEL component SOURCES ${CMAKE_CURRENT_LIST_DIR}/IPCTransportTest.cpp)
orvex_test(core_processes LABEL component SOURCES ${CMAKE_CURRENT_LIST_DIR}/ProcessTest.cpp)
orvex_test(core_tokenstore LABEL component SOURCES ${CMAKE_CURRENT_LIST_DIR}/TokenStoreTest.cpp)
orvex_test(core_update_checker LABEL component SOURCES ${CMAKE_CURRENT_LIST_DIR}/UpdateCheckerTest.cpp
  LIBS UpdateServerFixture)
orvex_test(core_slow LABEL component LABELS slow SOURCES ${CMAKE_CURRENT_LIST_DIR}/SlowTest.cpp
  LIBS UpdateServerFixture)
