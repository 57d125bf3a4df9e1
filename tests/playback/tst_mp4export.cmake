include(${CMAKE_SOURCE_DIR}/tests/playback/playbackfixture.cmake)
target_sources(${test_target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/recmedia/camerafilewriter.cpp)
