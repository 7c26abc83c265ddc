zrp_add_test(test_ui SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ui.cpp LIBS zrp_platform zrp_loopback_server)
