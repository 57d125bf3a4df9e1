include(${CMAKE_SOURCE_DIR}/tests/playback/playbackfixture.cmake)
