pkg_check_modules(P2P_TEST_AV REQUIRED IMPORTED_TARGET libavcodec libavutil)
target_link_libraries(${test_target} PRIVATE PkgConfig::P2P_TEST_AV)
add_dependencies(${test_target} varno-camsim)
set_tests_properties(${test_name} PROPERTIES TIMEOUT 400)
