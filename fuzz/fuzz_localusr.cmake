# The login dialog's own sources, built with the target's sanitizers, on the
# libraries it stands on.
target_sources(${fuzz_target} PRIVATE ${CMAKE_SOURCE_DIR}/client/qlogin.cpp ${CMAKE_SOURCE_DIR}/client/qlogin.h
                                      ${CMAKE_SOURCE_DIR}/client/qlogin.ui)
set_target_properties(${fuzz_target} PROPERTIES AUTOUIC_SEARCH_PATHS ${CMAKE_SOURCE_DIR}/client)
target_link_libraries(${fuzz_target} PRIVATE varno_common varno_common_ui varno_resources varno_userstore
                                             Qt6::Widgets Qt6::Network)
foreach(lib varno_common varno_userstore)
    target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
endforeach()
