# Registration of a table through the netsh stand-in, next to the floor of running the stand-in
# alone. Run from the release build: build/release/bench/bench_ostable
corvane_add_benchmark(bench_ostable ${CMAKE_CURRENT_LIST_DIR}/ostable/registration_bench.cpp)
add_dependencies(bench_ostable netsh corvane corvane_conf)
