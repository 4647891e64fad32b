orvex_test(interop_v2ray LABEL interop TIMEOUT 180 SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/V2rayInteropTest.cpp)
