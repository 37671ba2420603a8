# Policy model fuzzers: the policy file line reader (SetStringCsv, with the writer as its
# oracle) and the whole policy table file reader. The policy and platform sources they run are
# compiled into each fuzzer so that libFuzzer sees their coverage and AddressSanitizer checks
# them; the rest of the core comes uninstrumented from corvane_core.
set(corvane_policy_fuzz_sources
    ${PROJECT_SOURCE_DIR}/src/policy/policy.cpp
    ${PROJECT_SOURCE_DIR}/src/policy/policylistmanager.cpp
    ${PROJECT_SOURCE_DIR}/src/platform/codepage.cpp
    ${PROJECT_SOURCE_DIR}/src/platform/charclass.cpp
    ${PROJECT_SOURCE_DIR}/src/platform/fileutil_posix.cpp
    ${PROJECT_SOURCE_DIR}/src/platform/ipv6text_posix.cpp)

corvane_add_fuzzer(fuzz_policy_csv ${CMAKE_CURRENT_LIST_DIR}/fuzz_policy_csv.cpp ${corvane_policy_fuzz_sources})
corvane_add_fuzzer(fuzz_policy_file ${CMAKE_CURRENT_LIST_DIR}/fuzz_policy_file.cpp ${corvane_policy_fuzz_sources})
