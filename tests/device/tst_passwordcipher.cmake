# The cipher is checked against OpenSSL's AES; the product keeps its own.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
target_link_libraries(${test_target} PRIVATE OpenSSL::Crypto)
