# The fakes and scratch machine every interface test shares, compiled once.
add_library(OrvexUITestSupport STATIC ${CMAKE_CURRENT_LIST_DIR}/ModelFakes.cpp)
target_include_directories(OrvexUITestSupport PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/../OrvexCore)
target_link_libraries(OrvexUITestSupport PUBLIC OrvexTestSupport OrvexUI AccountServerFixture Qt6::Widgets)
