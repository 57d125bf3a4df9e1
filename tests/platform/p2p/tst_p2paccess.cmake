target_sources(${test_target} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/relaykit.cpp ${CMAKE_CURRENT_LIST_DIR}/relaykit.h)
add_dependencies(${test_target} varno-camsim)
