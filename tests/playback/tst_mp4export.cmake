pkg_check_modules(TST_MP4_AV REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil)
target_sources(${test_target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/recmedia/testmedia.cpp
                                      ${CMAKE_SOURCE_DIR}/tests/support/recmedia/camerafilewriter.cpp)
target_link_libraries(${test_target} PRIVATE PkgConfig::TST_MP4_AV)
