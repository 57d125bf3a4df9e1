# Runs against a private broker, the camera simulator and a simulated ONVIF
# camera in the test process.
add_dependencies(${test_target} varno-camsim)
target_link_libraries(${test_target} PRIVATE varno_camsim)
