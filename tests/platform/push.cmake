zrp_add_test(test_push_registrar SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_push_registrar.cpp LIBS zrp_platform)
