#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// MD5 message digest (RFC 1321), used for the authentication token of the
// peer-to-peer requests. Not for anything that needs collision resistance.
namespace varno {

class Md5
{
public:
    using Digest = std::array<uint8_t, 16>;

    Md5();

    // Adds bytes to the message; may be called any number of times.
    void update(const void *data, size_t size);
    void update(std::string_view text) { update(text.data(), text.size()); }

    // Pads the message and returns its digest. The object then starts over
    // with an empty message.
    Digest finish();

private:
    void reset();
    void transform(const uint8_t *block);

    uint32_t m_state[4];
    uint64_t m_length; // message length in bytes
    uint8_t m_buffer[64];
};

// Digest of one message.
Md5::Digest md5(const void *data, size_t size);
// The digest as 32 lowercase hexadecimal digits.
std::string md5Hex(std::string_view text);

} // namespace varno
