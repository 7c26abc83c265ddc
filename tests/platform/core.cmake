zrp_add_test(test_core SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_core.cpp LIBS zrp_platform)
