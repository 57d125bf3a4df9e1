pkg_check_modules(CLIENT_P2P_TEST_AV REQUIRED IMPORTED_TARGET libavcodec libavutil)
target_link_libraries(${test_target} PRIVATE PkgConfig::CLIENT_P2P_TEST_AV)
add_dependencies(${test_target} varno-camsim)
