add_executable(bench_startup ${CMAKE_CURRENT_LIST_DIR}/bench_startup.cpp)
target_link_libraries(bench_startup PRIVATE Qt6::Core)
target_compile_definitions(bench_startup PRIVATE ZRP_TABLET_BIN="$<TARGET_FILE:zrp-tablet>")
add_dependencies(bench_startup zrp-tablet)

add_executable(bench_launch ${CMAKE_CURRENT_LIST_DIR}/bench_launch.cpp)
target_link_libraries(bench_launch PRIVATE Qt6::Core)
target_compile_definitions(bench_launch PRIVATE ZRP_TABLET_BIN="$<TARGET_FILE:zrp-tablet>")
add_dependencies(bench_launch zrp-tablet)
