# Application frame: log throughput.
corvane_add_benchmark(bench_app ${CMAKE_CURRENT_LIST_DIR}/app_applog.cpp)
