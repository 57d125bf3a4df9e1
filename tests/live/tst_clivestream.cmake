target_link_libraries(${test_target} PRIVATE varno_testmedia varno_device)
add_dependencies(${test_target} varno-camsim)
