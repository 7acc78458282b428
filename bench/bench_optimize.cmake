# Scene-graph optimisation benchmark (optimizeTransformations alone), built
# with -DPYTAV_BENCH=ON; run build/.../bench_optimize. The benchmark through
# Model.save is bench/bench_optimize.py.
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/bench_optimize.cpp)
  add_executable(bench_optimize ${CMAKE_SOURCE_DIR}/bench/bench_optimize.cpp)
  target_link_libraries(bench_optimize PRIVATE UniModelDesc Core)
  target_compile_options(bench_optimize PRIVATE ${PYTAV_WARNINGS})
endif()
