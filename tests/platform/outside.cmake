zrp_add_test(test_outside SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_outside.cpp LIBS zrp_platform zrp_sandbox Qt6::Network)
