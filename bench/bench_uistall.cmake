target_link_libraries(${bench_target} PRIVATE varno_client varno_camsim varno_testsupport Qt6::Widgets)
