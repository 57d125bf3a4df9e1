target_link_libraries(${bench_target} PRIVATE varno_live varno_devmgr varno_testsupport Qt6::Widgets)
