add_executable(bench_sandbox ${CMAKE_CURRENT_LIST_DIR}/bench_sandbox.cpp)
target_link_libraries(bench_sandbox PRIVATE zrp_sandbox PkgConfig::CPPHTTPLIB)
# Start-up is timed on the real executable, from launch to the printed URL.
target_compile_definitions(bench_sandbox PRIVATE ZRP_SANDBOX_EXE="$<TARGET_FILE:zrp-sandbox>")
add_dependencies(bench_sandbox zrp-sandbox)
zrp_target_warnings(bench_sandbox)
