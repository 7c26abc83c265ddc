zrp_add_test(test_net SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_net.cpp LIBS zrp_platform zrp_loopback_server)
