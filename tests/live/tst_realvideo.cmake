target_link_libraries(${test_target} PRIVATE varno_camsim varno_device)
add_dependencies(${test_target} varno-camsim)
