# The playback tests' shared scaffolding (included by each test's .cmake).
pkg_check_modules(TST_PLAYBACK_AV REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil)
target_sources(${test_target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/playback/playbackfixture.cpp
                                      ${CMAKE_SOURCE_DIR}/tests/support/recmedia/testmedia.cpp)
target_link_libraries(${test_target} PRIVATE PkgConfig::TST_PLAYBACK_AV Qt6::Widgets)
target_link_libraries(${test_target} PRIVATE varno_camsim varno_testmedia)
add_dependencies(${test_target} varno-camsim)
