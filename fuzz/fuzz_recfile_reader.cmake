target_link_libraries(${fuzz_target} PRIVATE varno_recfile)
target_compile_options(varno_recfile PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
target_compile_options(varno_common PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
