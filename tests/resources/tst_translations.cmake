target_compile_definitions(${test_target} PRIVATE
    VARNO_LUPDATE="$<TARGET_FILE:Qt6::lupdate>"
    VARNO_SOURCE_TREE="${CMAKE_SOURCE_DIR}")
