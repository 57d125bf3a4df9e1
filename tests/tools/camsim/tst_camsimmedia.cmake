pkg_check_modules(CAMSIM_TEST_AV REQUIRED IMPORTED_TARGET libavcodec libavutil)
target_link_libraries(${test_target} PRIVATE PkgConfig::CAMSIM_TEST_AV)
