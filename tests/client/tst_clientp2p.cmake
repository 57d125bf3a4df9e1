add_dependencies(${test_target} varno-camsim)
