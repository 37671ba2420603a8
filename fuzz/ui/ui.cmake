# The RTF reader of the agreement dialog, a reader of a file the program does not write itself.
# Its source is compiled into the fuzzer so that libFuzzer sees its coverage.
corvane_add_fuzzer(fuzz_rtf_reader ${CMAKE_CURRENT_LIST_DIR}/fuzz_rtf_reader.cpp
    ${PROJECT_SOURCE_DIR}/src/ui/dialog/rtfreader.cpp
    ${PROJECT_SOURCE_DIR}/src/ui/dialog/rtftext.cpp
    ${PROJECT_SOURCE_DIR}/src/platform/codepage.cpp)
target_link_libraries(fuzz_rtf_reader PRIVATE Qt6::Gui)
