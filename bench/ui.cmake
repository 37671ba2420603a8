# Benchmarks of the user interface: the policy list and the main window on large tables.
corvane_add_benchmark(bench_ui ${CMAKE_CURRENT_SOURCE_DIR}/ui/policylist_bench.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ui/zarntooldlg_bench.cpp)
target_link_libraries(bench_ui PRIVATE corvane_ui)
