# Network retrieval: HTTP fetch of a 100,000-line body on loopback, next to curl.
corvane_add_benchmark(bench_net
    ${CMAKE_CURRENT_SOURCE_DIR}/net/http_fetch_bench.cpp
    ${PROJECT_SOURCE_DIR}/tests/net/loopbackserver.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/testsupport.cpp)
add_dependencies(bench_net corvane_conf)
