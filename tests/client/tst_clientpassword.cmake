# Runs against a private broker and the camera simulator program.
add_dependencies(${test_target} varno-camsim)
target_link_libraries(${test_target} PRIVATE varno_userstore)
