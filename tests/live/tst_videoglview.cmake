target_link_libraries(${test_target} PRIVATE varno_testmedia)
# Where Debian keeps Mesa's drivers (the test keeps its software driver loaded).
target_compile_definitions(${test_target} PRIVATE VARNO_MULTIARCH="${CMAKE_LIBRARY_ARCHITECTURE}")
