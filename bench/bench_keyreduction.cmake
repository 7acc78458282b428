# Key reduction against the re-sorting definition it replaced. Included when
# PYTAV_BENCH is on; `make bench` runs it.
add_executable(bench_keyreduction ${CMAKE_CURRENT_LIST_DIR}/bench_keyreduction.cpp)
target_link_libraries(bench_keyreduction PRIVATE UniModelDesc Core)
target_compile_options(bench_keyreduction PRIVATE ${PYTAV_WARNINGS})
