target_link_libraries(${fuzz_target} PRIVATE varno_onvif)
# Sanitize the library under test as well, not only the fuzz entry.
if(NOT TARGET varno_onvif_sanitized_marker)
    add_custom_target(varno_onvif_sanitized_marker)
    target_compile_options(varno_onvif PRIVATE -fsanitize=address,undefined -fsanitize=fuzzer-no-link)
endif()
