target_link_libraries(${test_target} PRIVATE varno_testmedia varno_device varno_camsim)
add_dependencies(${test_target} varno-camsim)
