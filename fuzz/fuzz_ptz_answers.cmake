# The readers live in varno_common, built with the target's sanitizers.
target_link_libraries(${fuzz_target} PRIVATE varno_common)
target_compile_options(varno_common PRIVATE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
