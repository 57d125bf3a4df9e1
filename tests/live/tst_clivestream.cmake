target_link_libraries(${test_target} PRIVATE varno_testmedia varno_camsim)
