# The version-resource reader of the version box: reads the program file's own sections.
corvane_add_fuzzer(fuzz_version_info ${CMAKE_CURRENT_LIST_DIR}/fuzz_version_info.cpp
    ${PROJECT_SOURCE_DIR}/src/platform/versioninfo.cpp)
