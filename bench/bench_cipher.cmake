find_package(OpenSSL REQUIRED COMPONENTS Crypto)
target_link_libraries(${bench_target} PRIVATE varno_device OpenSSL::Crypto)
