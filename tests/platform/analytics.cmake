zrp_add_test(test_analytics SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_analytics.cpp LIBS zrp_platform zrp_loopback_server)
