# The scripted loopback HTTP server, shared by every test and benchmark that needs one.
if(NOT TARGET zrp_loopback_server)
    pkg_check_modules(ZRP_CPPHTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
    add_library(zrp_loopback_server STATIC
        ${PROJECT_SOURCE_DIR}/tests/support/LoopbackServer.cpp
        ${PROJECT_SOURCE_DIR}/tests/support/LoopbackServer.h)
    target_include_directories(zrp_loopback_server PUBLIC ${PROJECT_SOURCE_DIR}/tests/support)
    target_link_libraries(zrp_loopback_server PUBLIC Qt6::Core PRIVATE PkgConfig::ZRP_CPPHTTPLIB Threads::Threads)
    zrp_target_warnings(zrp_loopback_server)
endif()

zrp_add_test(test_analytics SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_analytics.cpp LIBS zrp_platform zrp_loopback_server)
