target_link_libraries(${bench_target} PRIVATE varno_common)
