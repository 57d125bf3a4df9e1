target_link_libraries(${test_target} PRIVATE varno_camsim)
