pkg_check_modules(TST_RECORDER_AV REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil)
target_link_libraries(${test_target} PRIVATE PkgConfig::TST_RECORDER_AV)
target_link_libraries(${test_target} PRIVATE varno_testmedia)
