pkg_check_modules(CAMSIMMEDIA_AV REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil)
target_link_libraries(${test_target} PRIVATE varno_testmedia PkgConfig::CAMSIMMEDIA_AV)
