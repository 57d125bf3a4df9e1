# Against a private broker and the camera simulator's P2P cameras, and ONVIF
# cameras in this process.
target_link_libraries(${test_target} PRIVATE varno_device varno_camsim)
add_dependencies(${test_target} varno-camsim)
