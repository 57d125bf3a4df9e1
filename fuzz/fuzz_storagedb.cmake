target_link_libraries(${fuzz_target} PRIVATE varno_record)
target_compile_options(varno_record PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
