# Vertex pass with two workers against one (optimizeVertices alone). Included
# when PYTAV_BENCH is on; `make bench` runs it.
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/bench_vertexpass.cpp)
  add_executable(bench_vertexpass ${CMAKE_CURRENT_LIST_DIR}/bench_vertexpass.cpp)
  target_link_libraries(bench_vertexpass PRIVATE UniModelDesc Core)
  target_compile_options(bench_vertexpass PRIVATE ${PYTAV_WARNINGS})
endif()
