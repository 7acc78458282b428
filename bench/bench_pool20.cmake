# Format 2.0 save benchmark (5,000 against 20,000 named nodes). Included by the
# top CMakeLists.txt when PYTAV_BENCH is on; `make bench` builds and runs it.
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/bench_pool20.cpp)
  add_executable(bench_pool20 ${CMAKE_CURRENT_LIST_DIR}/bench_pool20.cpp)
  target_link_libraries(bench_pool20 PRIVATE UniModelDesc Core)
  target_compile_options(bench_pool20 PRIVATE ${PYTAV_WARNINGS})
endif()
