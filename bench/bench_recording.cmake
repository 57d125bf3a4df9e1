pkg_check_modules(BENCH_REC_AV REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil)
target_sources(${bench_target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/recmedia/testmedia.cpp)
target_link_libraries(${bench_target} PRIVATE varno_recfile varno_testmedia PkgConfig::BENCH_REC_AV)
