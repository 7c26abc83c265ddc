zrp_add_test(test_store SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_store.cpp LIBS zrp_platform)
