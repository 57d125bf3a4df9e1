# The library under test is built with the same sanitizers as the target.
target_link_libraries(${fuzz_target} PRIVATE varno_p2p)
foreach(lib varno_p2p varno_common)
    target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
endforeach()
