# Runs against a private broker and the camera simulator.
add_dependencies(${test_target} varno-camsim)
# Counts what reaches a camera's inbox on the broker.
target_sources(${test_target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/platform/p2p/relaykit.cpp)
