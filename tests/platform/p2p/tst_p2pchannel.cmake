# The channel's code is built into the test itself with AddressSanitizer, so
# that a delivery thread touching a destroyed channel fails the test in every
# build of the suite.
target_sources(${test_target} PRIVATE ${CMAKE_SOURCE_DIR}/platform/p2p/p2p_channel.cpp)
# A build with sanitizers of its own (VARNO_SANITIZE) keeps them: AddressSanitizer is
# already there, or ThreadSanitizer, which cannot be combined with it.
if(NOT VARNO_SANITIZE)
    target_compile_options(${test_target} PRIVATE -fsanitize=address -fno-omit-frame-pointer)
    target_link_options(${test_target} PRIVATE -fsanitize=address)
    set_property(TEST ${test_name} APPEND PROPERTY ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:use_sigaltstack=0")
endif()
