target_sources(${bench_target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/platform/p2p/relaykit.cpp)
target_link_libraries(${bench_target} PRIVATE varno_camsim varno_p2p varno_testsupport)
target_compile_definitions(${bench_target} PRIVATE VARNO_SOURCE_TREE="${CMAKE_SOURCE_DIR}")
