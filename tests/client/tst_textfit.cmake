# Builds the pages and dialogs of every library the window holds.
target_link_libraries(${test_target} PRIVATE varno_userstore)
