target_link_libraries(${test_target} PRIVATE varno_testmedia)
add_dependencies(${test_target} varno-camsim)
set_tests_properties(${test_name} PROPERTIES TIMEOUT 400)
