# Format 2.0 pool benchmark: include(bench/bench_pool20.cmake) from the top
# CMakeLists.txt after the UniModelDesc target; run build/.../bench_pool20.
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/bench_pool20.cpp)
  add_executable(bench_pool20 ${CMAKE_SOURCE_DIR}/bench/bench_pool20.cpp)
  target_link_libraries(bench_pool20 PRIVATE UniModelDesc Core)
  target_compile_options(bench_pool20 PRIVATE ${PYTAV_WARNINGS})
endif()
