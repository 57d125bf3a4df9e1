target_link_libraries(${test_target} PRIVATE varno_common_ui varno_testmedia)
