#include "device/passwordcipher.h"

#include "common/logfile.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

// AES-128 (FIPS-197) of our own on a row-wise state: state row r, column c
// holds block byte 4r + c, where FIPS-197 lays the block out column by
// column. Every round step acts on rows and columns exactly as FIPS-197
// defines them, so the result equals "transpose, standard AES-128,
// transpose". The layout is part of the stored format of the camera
// passwords and must never change.

namespace {

constexpr int kBlock = 16;
constexpr int kRounds = 10;
constexpr int kRoundKeyBytes = kBlock * (kRounds + 1); // 44 words

// The size of the callers' password buffers.
constexpr size_t kFieldSize = 64;
// Longest cipher text: three blocks. It leaves a terminator behind the
// cipher text as it is, and room for the header of the length-prefixed form.
constexpr size_t kMaxCipher = 48;
// The length-prefixed form of a cipher text that holds a zero byte:
// kLengthMark, the length in bytes (16, 32 or 48), the cipher text. No
// password stored in plain starts with a control character, and an old
// cipher text that happens to start with it is told apart by deciphering.
constexpr uint8_t kLengthMark = 0x01;
constexpr size_t kLengthHeader = 2;
static_assert(kLengthHeader + kMaxCipher < kFieldSize);

constexpr char kKey[] = "MorvaShield@5170";
static_assert(sizeof(kKey) == kBlock + 1);

constexpr uint8_t kSbox[256] = {
    0x63, 0x7c, 0x77, 0x7b, 0xf2, 0x6b, 0x6f, 0xc5, 0x30, 0x01, 0x67, 0x2b, 0xfe, 0xd7, 0xab, 0x76,
    0xca, 0x82, 0xc9, 0x7d, 0xfa, 0x59, 0x47, 0xf0, 0xad, 0xd4, 0xa2, 0xaf, 0x9c, 0xa4, 0x72, 0xc0,
    0xb7, 0xfd, 0x93, 0x26, 0x36, 0x3f, 0xf7, 0xcc, 0x34, 0xa5, 0xe5, 0xf1, 0x71, 0xd8, 0x31, 0x15,
    0x04, 0xc7, 0x23, 0xc3, 0x18, 0x96, 0x05, 0x9a, 0x07, 0x12, 0x80, 0xe2, 0xeb, 0x27, 0xb2, 0x75,
    0x09, 0x83, 0x2c, 0x1a, 0x1b, 0x6e, 0x5a, 0xa0, 0x52, 0x3b, 0xd6, 0xb3, 0x29, 0xe3, 0x2f, 0x84,
    0x53, 0xd1, 0x00, 0xed, 0x20, 0xfc, 0xb1, 0x5b, 0x6a, 0xcb, 0xbe, 0x39, 0x4a, 0x4c, 0x58, 0xcf,
    0xd0, 0xef, 0xaa, 0xfb, 0x43, 0x4d, 0x33, 0x85, 0x45, 0xf9, 0x02, 0x7f, 0x50, 0x3c, 0x9f, 0xa8,
    0x51, 0xa3, 0x40, 0x8f, 0x92, 0x9d, 0x38, 0xf5, 0xbc, 0xb6, 0xda, 0x21, 0x10, 0xff, 0xf3, 0xd2,
    0xcd, 0x0c, 0x13, 0xec, 0x5f, 0x97, 0x44, 0x17, 0xc4, 0xa7, 0x7e, 0x3d, 0x64, 0x5d, 0x19, 0x73,
    0x60, 0x81, 0x4f, 0xdc, 0x22, 0x2a, 0x90, 0x88, 0x46, 0xee, 0xb8, 0x14, 0xde, 0x5e, 0x0b, 0xdb,
    0xe0, 0x32, 0x3a, 0x0a, 0x49, 0x06, 0x24, 0x5c, 0xc2, 0xd3, 0xac, 0x62, 0x91, 0x95, 0xe4, 0x79,
    0xe7, 0xc8, 0x37, 0x6d, 0x8d, 0xd5, 0x4e, 0xa9, 0x6c, 0x56, 0xf4, 0xea, 0x65, 0x7a, 0xae, 0x08,
    0xba, 0x78, 0x25, 0x2e, 0x1c, 0xa6, 0xb4, 0xc6, 0xe8, 0xdd, 0x74, 0x1f, 0x4b, 0xbd, 0x8b, 0x8a,
    0x70, 0x3e, 0xb5, 0x66, 0x48, 0x03, 0xf6, 0x0e, 0x61, 0x35, 0x57, 0xb9, 0x86, 0xc1, 0x1d, 0x9e,
    0xe1, 0xf8, 0x98, 0x11, 0x69, 0xd9, 0x8e, 0x94, 0x9b, 0x1e, 0x87, 0xe9, 0xce, 0x55, 0x28, 0xdf,
    0x8c, 0xa1, 0x89, 0x0d, 0xbf, 0xe6, 0x42, 0x68, 0x41, 0x99, 0x2d, 0x0f, 0xb0, 0x54, 0xbb, 0x16,
};

constexpr uint8_t kInvSbox[256] = {
    0x52, 0x09, 0x6a, 0xd5, 0x30, 0x36, 0xa5, 0x38, 0xbf, 0x40, 0xa3, 0x9e, 0x81, 0xf3, 0xd7, 0xfb,
    0x7c, 0xe3, 0x39, 0x82, 0x9b, 0x2f, 0xff, 0x87, 0x34, 0x8e, 0x43, 0x44, 0xc4, 0xde, 0xe9, 0xcb,
    0x54, 0x7b, 0x94, 0x32, 0xa6, 0xc2, 0x23, 0x3d, 0xee, 0x4c, 0x95, 0x0b, 0x42, 0xfa, 0xc3, 0x4e,
    0x08, 0x2e, 0xa1, 0x66, 0x28, 0xd9, 0x24, 0xb2, 0x76, 0x5b, 0xa2, 0x49, 0x6d, 0x8b, 0xd1, 0x25,
    0x72, 0xf8, 0xf6, 0x64, 0x86, 0x68, 0x98, 0x16, 0xd4, 0xa4, 0x5c, 0xcc, 0x5d, 0x65, 0xb6, 0x92,
    0x6c, 0x70, 0x48, 0x50, 0xfd, 0xed, 0xb9, 0xda, 0x5e, 0x15, 0x46, 0x57, 0xa7, 0x8d, 0x9d, 0x84,
    0x90, 0xd8, 0xab, 0x00, 0x8c, 0xbc, 0xd3, 0x0a, 0xf7, 0xe4, 0x58, 0x05, 0xb8, 0xb3, 0x45, 0x06,
    0xd0, 0x2c, 0x1e, 0x8f, 0xca, 0x3f, 0x0f, 0x02, 0xc1, 0xaf, 0xbd, 0x03, 0x01, 0x13, 0x8a, 0x6b,
    0x3a, 0x91, 0x11, 0x41, 0x4f, 0x67, 0xdc, 0xea, 0x97, 0xf2, 0xcf, 0xce, 0xf0, 0xb4, 0xe6, 0x73,
    0x96, 0xac, 0x74, 0x22, 0xe7, 0xad, 0x35, 0x85, 0xe2, 0xf9, 0x37, 0xe8, 0x1c, 0x75, 0xdf, 0x6e,
    0x47, 0xf1, 0x1a, 0x71, 0x1d, 0x29, 0xc5, 0x89, 0x6f, 0xb7, 0x62, 0x0e, 0xaa, 0x18, 0xbe, 0x1b,
    0xfc, 0x56, 0x3e, 0x4b, 0xc6, 0xd2, 0x79, 0x20, 0x9a, 0xdb, 0xc0, 0xfe, 0x78, 0xcd, 0x5a, 0xf4,
    0x1f, 0xdd, 0xa8, 0x33, 0x88, 0x07, 0xc7, 0x31, 0xb1, 0x12, 0x10, 0x59, 0x27, 0x80, 0xec, 0x5f,
    0x60, 0x51, 0x7f, 0xa9, 0x19, 0xb5, 0x4a, 0x0d, 0x2d, 0xe5, 0x7a, 0x9f, 0x93, 0xc9, 0x9c, 0xef,
    0xa0, 0xe0, 0x3b, 0x4d, 0xae, 0x2a, 0xf5, 0xb0, 0xc8, 0xeb, 0xbb, 0x3c, 0x83, 0x53, 0x99, 0x61,
    0x17, 0x2b, 0x04, 0x7e, 0xba, 0x77, 0xd6, 0x26, 0xe1, 0x69, 0x14, 0x63, 0x55, 0x21, 0x0c, 0x7d,
};

constexpr uint8_t kRcon[kRounds] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1b, 0x36};

// Multiplication by x in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
inline uint8_t xtime(uint8_t b)
{
    return static_cast<uint8_t>((b << 1) ^ ((b & 0x80) ? 0x1b : 0x00));
}

// The state: s[4 * r + c] is row r, column c, which is also block byte
// 4r + c (the row-wise layout).
using State = uint8_t[kBlock];

inline uint8_t &at(State &s, int r, int c) { return s[4 * r + c]; }

// Cipher context: the expanded key of one call. The round keys live in a
// buffer of their own, allocated with the context and freed with it.
class AesContext
{
public:
    // False when the round-key buffer could not be allocated.
    bool init(const uint8_t *key)
    {
        m_roundKeys.reset(new (std::nothrow) uint8_t[kRoundKeyBytes]);
        if (!m_roundKeys)
            return false;
        expandKey(key);
        return true;
    }

    void encryptBlock(uint8_t *block) const;
    void decryptBlock(uint8_t *block) const;

private:
    void expandKey(const uint8_t *key);
    void addRoundKey(State &s, int round) const;

    std::unique_ptr<uint8_t[]> m_roundKeys;
};

// Key words w[i] are bytes 4i..4i+3 of the round-key buffer.
void AesContext::expandKey(const uint8_t *key)
{
    uint8_t *w = m_roundKeys.get();
    std::memcpy(w, key, kBlock);
    for (int i = 4; i < 4 * (kRounds + 1); ++i) {
        uint8_t temp[4];
        std::memcpy(temp, w + 4 * (i - 1), 4);
        if (i % 4 == 0) {
            // RotWord, SubWord, Rcon.
            const uint8_t first = temp[0];
            temp[0] = static_cast<uint8_t>(kSbox[temp[1]] ^ kRcon[i / 4 - 1]);
            temp[1] = kSbox[temp[2]];
            temp[2] = kSbox[temp[3]];
            temp[3] = kSbox[first];
        }
        for (int j = 0; j < 4; ++j)
            w[4 * i + j] = static_cast<uint8_t>(w[4 * (i - 4) + j] ^ temp[j]);
    }
}

// Round-key word c is added to column c: its byte r goes to row r.
void AesContext::addRoundKey(State &s, int round) const
{
    const uint8_t *rk = m_roundKeys.get() + kBlock * round;
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            at(s, r, c) ^= rk[4 * c + r];
}

void subBytes(State &s)
{
    for (uint8_t &b : s)
        b = kSbox[b];
}

void invSubBytes(State &s)
{
    for (uint8_t &b : s)
        b = kInvSbox[b];
}

// Row r rotates left by r.
void shiftRows(State &s)
{
    for (int r = 1; r < 4; ++r) {
        uint8_t row[4];
        for (int c = 0; c < 4; ++c)
            row[c] = at(s, r, (c + r) % 4);
        for (int c = 0; c < 4; ++c)
            at(s, r, c) = row[c];
    }
}

void invShiftRows(State &s)
{
    for (int r = 1; r < 4; ++r) {
        uint8_t row[4];
        for (int c = 0; c < 4; ++c)
            row[(c + r) % 4] = at(s, r, c);
        for (int c = 0; c < 4; ++c)
            at(s, r, c) = row[c];
    }
}

// Each column is multiplied by {03}x^3 + {01}x^2 + {01}x + {02}.
void mixColumns(State &s)
{
    for (int c = 0; c < 4; ++c) {
        const uint8_t a0 = at(s, 0, c), a1 = at(s, 1, c), a2 = at(s, 2, c), a3 = at(s, 3, c);
        const uint8_t all = static_cast<uint8_t>(a0 ^ a1 ^ a2 ^ a3);
        at(s, 0, c) = static_cast<uint8_t>(a0 ^ all ^ xtime(static_cast<uint8_t>(a0 ^ a1)));
        at(s, 1, c) = static_cast<uint8_t>(a1 ^ all ^ xtime(static_cast<uint8_t>(a1 ^ a2)));
        at(s, 2, c) = static_cast<uint8_t>(a2 ^ all ^ xtime(static_cast<uint8_t>(a2 ^ a3)));
        at(s, 3, c) = static_cast<uint8_t>(a3 ^ all ^ xtime(static_cast<uint8_t>(a3 ^ a0)));
    }
}

// Each column is multiplied by {0b}x^3 + {0d}x^2 + {09}x + {0e}, which is
// {04}x^2 + {05} followed by the forward MixColumns.
void invMixColumns(State &s)
{
    for (int c = 0; c < 4; ++c) {
        const uint8_t u = xtime(xtime(static_cast<uint8_t>(at(s, 0, c) ^ at(s, 2, c))));
        const uint8_t v = xtime(xtime(static_cast<uint8_t>(at(s, 1, c) ^ at(s, 3, c))));
        at(s, 0, c) ^= u;
        at(s, 1, c) ^= v;
        at(s, 2, c) ^= u;
        at(s, 3, c) ^= v;
    }
    mixColumns(s);
}

void AesContext::encryptBlock(uint8_t *block) const
{
    State s;
    std::memcpy(s, block, kBlock); // row by row: byte 4r + c is row r, column c
    addRoundKey(s, 0);
    for (int round = 1; round < kRounds; ++round) {
        subBytes(s);
        shiftRows(s);
        mixColumns(s);
        addRoundKey(s, round);
    }
    subBytes(s);
    shiftRows(s);
    addRoundKey(s, kRounds);
    std::memcpy(block, s, kBlock);
}

void AesContext::decryptBlock(uint8_t *block) const
{
    State s;
    std::memcpy(s, block, kBlock);
    addRoundKey(s, kRounds);
    for (int round = kRounds - 1; round >= 1; --round) {
        invShiftRows(s);
        invSubBytes(s);
        addRoundKey(s, round);
        invMixColumns(s);
    }
    invShiftRows(s);
    invSubBytes(s);
    addRoundKey(s, 0);
    std::memcpy(block, s, kBlock);
}

// A password the store can hold: UTF-8 without control characters. Only
// such texts are enciphered, and only such texts are accepted as the result
// of deciphering, so that a password stored in plain is never taken for a
// cipher text and turned into garbage.
bool isPasswordText(const uint8_t *text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < 0x20 || text[i] == 0x7f)
            return false;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8.decode(QByteArrayView(text, static_cast<qsizetype>(length)));
    Q_UNUSED(decoded);
    return !utf8.hasError();
}

// The deciphered blocks hold one password ending in the last block and
// zero padding behind it.
bool isDecipheredPassword(const uint8_t *plain, size_t length)
{
    const size_t text = ::strnlen(reinterpret_cast<const char *>(plain), length);
    if (text == 0 || text + kBlock <= length)
        return false;
    for (size_t i = text; i < length; ++i) {
        if (plain[i] != 0)
            return false;
    }
    return isPasswordText(plain, text);
}

const uint8_t *keyBytes() { return reinterpret_cast<const uint8_t *>(kKey); }

} // namespace

// Enciphers the password into outBuf (64 bytes, zeroed by the caller).
//
// The cipher text goes into the field as it is when no byte of it is zero:
// read back as a NUL-terminated string it is whole, and every client that
// ever wrote this store reads it. A cipher text that holds a zero byte (a
// zero at a block boundary as well as one inside a block) would be cut
// there, so it goes into the length-prefixed form instead: kLengthMark, the
// cipher text's length, the cipher text. A password longer than 48 bytes
// would not fit in either form; it is refused with -101 and outBuf is left
// untouched. A password that is not UTF-8 text without control characters
// is refused the same way, because decode would not accept it back. On -101
// the caller stores the password in plain.
int encode(const char *inBuf, char *outBuf)
{
    if (!inBuf || !outBuf)
        return -103;
    AesContext context;
    if (!context.init(keyBytes()))
        return -103;

    const size_t length = std::strlen(inBuf);
    const auto *plain = reinterpret_cast<const uint8_t *>(inBuf);
    if (length > kMaxCipher || !isPasswordText(plain, length)) {
        // The password itself is never written: only its length.
        WriteLog(2, "Encode failed, inBuf[315***18%d]!!!", static_cast<int>(length + 5));
        return -101;
    }
    const size_t cipherLength = (length + kBlock - 1) / kBlock * kBlock;
    uint8_t cipher[kMaxCipher];
    for (size_t offset = 0; offset < cipherLength; offset += kBlock) {
        uint8_t *block = cipher + offset;
        std::memset(block, 0, kBlock);
        std::memcpy(block, plain + offset, std::min<size_t>(kBlock, length - offset));
        context.encryptBlock(block);
    }
    const bool holdsZero = std::find(cipher, cipher + cipherLength, uint8_t(0)) != cipher + cipherLength;
    if (!holdsZero) {
        std::memcpy(outBuf, cipher, cipherLength);
    } else {
        outBuf[0] = static_cast<char>(kLengthMark);
        outBuf[1] = static_cast<char>(cipherLength);
        std::memcpy(outBuf + kLengthHeader, cipher, cipherLength);
    }
    return 0;
}

// Deciphers a stored password field into outBuf (64 bytes, zeroed by the
// caller). The length-prefixed form is tried first: a field that starts
// with kLengthMark and a length of one to three blocks, whose deciphered
// bytes are one zero-padded password text, is read to the end of its
// cipher text (at most 50 bytes). Any other field is read up to its
// terminator but never beyond 64 bytes, and taken to be a password stored
// in plain (-102, outBuf untouched) when its length is not a multiple of
// 16, when it fills the whole field, or when the deciphered bytes are not
// one zero-padded password text.
int decode(const char *inBuf, char *outBuf)
{
    if (!inBuf || !outBuf)
        return -103;
    AesContext context;
    if (!context.init(keyBytes()))
        return -103;

    uint8_t plain[kMaxCipher];
    const auto decipher = [&](const char *cipher, size_t length) {
        std::memcpy(plain, cipher, length);
        for (size_t offset = 0; offset < length; offset += kBlock)
            context.decryptBlock(plain + offset);
        return isDecipheredPassword(plain, length);
    };

    const auto mark = static_cast<uint8_t>(inBuf[0]);
    if (mark == kLengthMark) {
        const auto prefixed = static_cast<uint8_t>(inBuf[1]);
        if (prefixed != 0 && prefixed % kBlock == 0 && prefixed <= kMaxCipher
            && decipher(inBuf + kLengthHeader, prefixed)) {
            std::memcpy(outBuf, plain, prefixed);
            return 0;
        }
    }

    const size_t length = ::strnlen(inBuf, kFieldSize);
    bool usable = length % kBlock == 0 && length <= kMaxCipher;
    if (usable)
        usable = length == 0 || decipher(inBuf, length);
    if (!usable) {
        // The field may hold a password stored in plain: only its length
        // is written.
        WriteLog(2, "Decode failed, inBuf[315***18%d]!!!", static_cast<int>(length + 5));
        return -102;
    }
    std::memcpy(outBuf, plain, length);
    return 0;
}
