# Runs against a private broker and the camera simulator program.
add_dependencies(${test_target} varno-camsim)
target_sources(${test_target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/recmedia/testmedia.cpp)
pkg_check_modules(TST_CLIENTRECORD_AV REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil)
target_link_libraries(${test_target} PRIVATE varno_userstore varno_record varno_testmedia PkgConfig::TST_CLIENTRECORD_AV)
