# The test opens the store file with a connection of its own to check and
# damage it.
target_link_libraries(${test_target} PRIVATE SQLite::SQLite3)
