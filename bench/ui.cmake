# Benchmarks of the user interface.
# The whole program: process start to the agreement dialog on a private X server, and the peak
# memory of the process (needs Xvfb; run from the release build).
find_library(CORVANE_XCB_LIBRARY xcb)
if(CORVANE_XCB_LIBRARY)
  corvane_add_benchmark(bench_startup ${CMAKE_CURRENT_SOURCE_DIR}/ui/startup_bench.cpp)
  target_link_libraries(bench_startup PRIVATE ${CORVANE_XCB_LIBRARY})
  add_dependencies(bench_startup zarntool netsh corvane_conf)
endif()

# The policy list and the main window on large tables; the whole program to the main window.
corvane_add_benchmark(bench_ui ${CMAKE_CURRENT_SOURCE_DIR}/ui/policylist_bench.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ui/mainwindow_bench.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ui/progress_bench.cpp)
target_link_libraries(bench_ui PRIVATE corvane_ui)
