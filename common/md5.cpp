#include "common/md5.h"

#include <algorithm>
#include <cstring>

namespace varno {

namespace {

// Per-round shift amounts, by round and step within the round.
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// T[i] = floor(2^32 * |sin(i + 1)|), as tabulated in RFC 1321.
constexpr uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t loadLe32(const uint8_t *p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline void storeLe32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

} // namespace

Md5::Md5()
{
    reset();
}

void Md5::reset()
{
    m_state[0] = 0x67452301;
    m_state[1] = 0xefcdab89;
    m_state[2] = 0x98badcfe;
    m_state[3] = 0x10325476;
    m_length = 0;
    std::memset(m_buffer, 0, sizeof(m_buffer));
}

void Md5::transform(const uint8_t *block)
{
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = loadLe32(block + 4 * i);

    uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    for (int i = 0; i < 64; ++i) {
        const int round = i / 16;
        uint32_t f;
        int k;
        switch (round) {
        case 0: f = (b & c) | (~b & d); k = i; break;
        case 1: f = (b & d) | (c & ~d); k = (5 * i + 1) % 16; break;
        case 2: f = b ^ c ^ d; k = (3 * i + 5) % 16; break;
        default: f = c ^ (b | ~d); k = (7 * i) % 16; break;
        }
        const uint32_t sum = a + f + x[k] + kT[i];
        a = d;
        d = c;
        c = b;
        b = b + rotl(sum, kShift[round][i % 4]);
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
}

void Md5::update(const void *data, size_t size)
{
    if (!data || size == 0)
        return;
    const auto *bytes = static_cast<const uint8_t *>(data);
    size_t used = size_t(m_length % 64);
    m_length += size;
    if (used) {
        const size_t take = std::min(size, 64 - used);
        std::memcpy(m_buffer + used, bytes, take);
        bytes += take;
        size -= take;
        if (used + take < 64)
            return;
        transform(m_buffer);
    }
    for (; size >= 64; bytes += 64, size -= 64)
        transform(bytes);
    if (size)
        std::memcpy(m_buffer, bytes, size);
}

Md5::Digest Md5::finish()
{
    // One 0x80 byte, zeros up to 56 mod 64, the bit length (little-endian).
    const uint64_t bitLength = m_length * 8;
    static constexpr uint8_t kPad[64] = {0x80};
    const size_t used = size_t(m_length % 64);
    update(kPad, used < 56 ? 56 - used : 120 - used);
    uint8_t lengthBytes[8];
    for (int i = 0; i < 8; ++i)
        lengthBytes[i] = uint8_t(bitLength >> (8 * i));
    update(lengthBytes, sizeof(lengthBytes));

    Digest digest;
    for (int i = 0; i < 4; ++i)
        storeLe32(digest.data() + 4 * i, m_state[i]);
    reset();
    return digest;
}

Md5::Digest md5(const void *data, size_t size)
{
    Md5 hash;
    hash.update(data, size);
    return hash.finish();
}

std::string md5Hex(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const Md5::Digest digest = md5(text.data(), text.size());
    std::string out;
    out.reserve(32);
    for (uint8_t b : digest) {
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 0x0f]);
    }
    return out;
}

} // namespace varno
