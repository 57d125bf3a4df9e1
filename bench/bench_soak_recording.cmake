pkg_check_modules(BENCH_SOAK_AV REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil)
target_sources(${bench_target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/recmedia/testmedia.cpp)
target_link_libraries(${bench_target} PRIVATE varno_record varno_testmedia PkgConfig::BENCH_SOAK_AV)
