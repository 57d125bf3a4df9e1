# Runs the demo's cameras (varno-camsim) against a private broker.
add_dependencies(${test_target} varno-camsim)
target_link_libraries(${test_target} PRIVATE varno_userstore varno_demoseed)
set_tests_properties(${test_name} PROPERTIES TIMEOUT 400)
