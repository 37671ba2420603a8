# Reading and writing a policy table file of 100,000 rows, with the log as shipped (every trace
# line written), with the log threshold at INFO, and without any log.
corvane_add_benchmark(bench_policy ${CMAKE_CURRENT_SOURCE_DIR}/policy_bench.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/testsupport.cpp)
add_dependencies(bench_policy corvane_conf)
# Ordering 1,000 destinations under a 100-row table (the address-order preview).
corvane_add_benchmark(bench_order ${CMAKE_CURRENT_SOURCE_DIR}/order_bench.cpp)
