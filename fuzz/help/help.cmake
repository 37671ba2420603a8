# The help viewer's own readers of help text: decoding, the contents file and links.
corvane_add_fuzzer(fuzz_help_contents ${CMAKE_CURRENT_LIST_DIR}/fuzz_help_contents.cpp
    ${PROJECT_SOURCE_DIR}/src/help/chmfile.cpp
    ${PROJECT_SOURCE_DIR}/src/platform/codepage.cpp)
