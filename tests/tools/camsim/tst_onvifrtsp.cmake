pkg_check_modules(ONVIFRTSP_AV REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil)
target_link_libraries(${test_target} PRIVATE varno_devmgr PkgConfig::ONVIFRTSP_AV)
set_tests_properties(${test_name} PROPERTIES TIMEOUT 300)
