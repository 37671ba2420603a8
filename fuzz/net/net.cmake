# Network retrieval. The code under test is compiled into each target so that it carries the
# fuzzer's coverage instrumentation.
corvane_add_fuzzer(fuzz_dhcp_reply
    ${CMAKE_CURRENT_LIST_DIR}/fuzz_dhcp_reply.cpp
    ${PROJECT_SOURCE_DIR}/src/net/dhcp.cpp
    ${PROJECT_SOURCE_DIR}/src/policy/policy.cpp)
corvane_add_fuzzer(fuzz_http_response
    ${CMAKE_CURRENT_LIST_DIR}/fuzz_http_response.cpp
    ${PROJECT_SOURCE_DIR}/src/net/httpexchange.cpp
    ${PROJECT_SOURCE_DIR}/src/policy/policy.cpp)
foreach(target fuzz_dhcp_reply fuzz_http_response)
  target_compile_options(${target} PRIVATE -fsanitize=undefined -fno-sanitize-recover=undefined)
  target_link_options(${target} PRIVATE -fsanitize=undefined)
endforeach()
