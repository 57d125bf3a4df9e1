# Against a private broker and the camera simulator's P2P cameras.
target_link_libraries(${test_target} PRIVATE varno_device)
add_dependencies(${test_target} varno-camsim)
