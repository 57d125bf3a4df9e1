target_link_libraries(${test_target} PRIVATE Qt6::Gui)
