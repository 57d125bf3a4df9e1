target_link_libraries(${bench_target} PRIVATE varno_client varno_camsim varno_testsupport Qt6::Widgets)
# Recordings written through the recording file library (the cut one).
set(test_target ${bench_target})
include(${CMAKE_SOURCE_DIR}/tests/playback/playbackfixture.cmake)
