target_link_libraries(${bench_target} PRIVATE varno_camsim varno_p2p varno_testsupport)
