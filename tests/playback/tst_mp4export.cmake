include(${CMAKE_SOURCE_DIR}/tests/playback/playbackfixture.cmake)
target_sources(${test_target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/recmedia/camerafilewriter.cpp)
# The command-line export is run as its own program.
add_dependencies(${test_target} varno-export)
