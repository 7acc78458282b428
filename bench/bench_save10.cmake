# Format 10 file-writing benchmark (a 1,000,000-vertex mesh against a plain
# write of as many bytes). Included when PYTAV_BENCH is on; `make bench` runs it.
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/bench_save10.cpp)
  add_executable(bench_save10 ${CMAKE_CURRENT_LIST_DIR}/bench_save10.cpp)
  target_link_libraries(bench_save10 PRIVATE UniModelDesc Core)
  target_compile_options(bench_save10 PRIVATE ${PYTAV_WARNINGS})
endif()
