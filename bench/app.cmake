add_executable(bench_startup ${CMAKE_CURRENT_LIST_DIR}/bench_startup.cpp)
target_link_libraries(bench_startup PRIVATE Qt6::Core)
target_compile_definitions(bench_startup PRIVATE ZRP_TABLET_BIN="$<TARGET_FILE:zrp-tablet>")
add_dependencies(bench_startup zrp-tablet)
