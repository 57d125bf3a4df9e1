pkg_check_modules(BENCH_MP4_AV REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil)
target_sources(${bench_target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/recmedia/camerafilewriter.cpp)
target_link_libraries(${bench_target} PRIVATE varno_playback varno_testmedia PkgConfig::BENCH_MP4_AV)
