# Runs against a private broker and the camera simulator.
add_dependencies(${test_target} varno-camsim)
