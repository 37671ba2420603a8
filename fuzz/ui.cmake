# User-interface fuzzers: the RTF reader of the agreement dialog and the version-resource reader
# of the version box, the two readers of files the program does not write itself. Their sources
# are compiled into the fuzzers so that libFuzzer sees their coverage.
corvane_add_fuzzer(fuzz_rtf_reader ${CMAKE_CURRENT_SOURCE_DIR}/ui/rtf_fuzz.cpp
    ${PROJECT_SOURCE_DIR}/src/ui/rtfreader.cpp
    ${PROJECT_SOURCE_DIR}/src/platform/codepage.cpp)
target_link_libraries(fuzz_rtf_reader PRIVATE Qt6::Gui)

corvane_add_fuzzer(fuzz_version_info ${CMAKE_CURRENT_SOURCE_DIR}/ui/versioninfo_fuzz.cpp
    ${PROJECT_SOURCE_DIR}/src/ui/versioninfo.cpp)

# The help viewer's own readers of help text: decoding, the contents file and links.
corvane_add_fuzzer(fuzz_help_contents ${CMAKE_CURRENT_SOURCE_DIR}/ui/help_contents_fuzz.cpp
    ${PROJECT_SOURCE_DIR}/src/ui/chmfile.cpp
    ${PROJECT_SOURCE_DIR}/src/platform/codepage.cpp)
