target_link_libraries(${test_target} PRIVATE varno_camsim)
add_dependencies(${test_target} varno-camsim)
