target_sources(${test_target} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/relaykit.cpp ${CMAKE_CURRENT_LIST_DIR}/relaykit.h)
add_dependencies(${test_target} varno-camsim)
# Starts a two-node RabbitMQ cluster: leave it out with ctest -LE rabbitmq.
set_tests_properties(${test_name} PROPERTIES LABELS rabbitmq TIMEOUT 1500)
