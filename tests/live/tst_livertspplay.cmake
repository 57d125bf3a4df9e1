target_link_libraries(${test_target} PRIVATE varno_testmedia varno_rtsp)
if(TARGET varno-test-rtspserver)
    add_dependencies(${test_target} varno-test-rtspserver)
endif()
