# Application frame: log throughput with the file opened and closed for every line.
corvane_add_benchmark(bench_app ${CMAKE_CURRENT_LIST_DIR}/app_applog.cpp)
