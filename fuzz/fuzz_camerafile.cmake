target_link_libraries(${fuzz_target} PRIVATE varno_playback)
# Instrument the parser and writer themselves, not only this file.
target_compile_options(varno_playback PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
target_compile_options(varno_common PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
