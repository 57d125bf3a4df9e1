target_link_libraries(${fuzz_target} PRIVATE varno_playback)
target_compile_options(varno_playback PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
