// Password cipher speed: encode and decode per password (ns/op) against
// OpenSSL's AES-128-ECB doing the same work per password (a fresh cipher
// context with its key schedule, the transposed blocks).
//
// bench_cipher [passwords]

#include "device/passwordcipher.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char kKey[] = "MorvaShield@5170";

struct Password
{
    QByteArray plain;
    QByteArray cipher;       // our encode's output, for decode
    QByteArray transposed;   // zero-padded blocks, each transposed
    QByteArray transposedCipher;
};

QByteArray transposeBlocks(const QByteArray &data)
{
    QByteArray out(data.size(), '\0');
    for (int offset = 0; offset < data.size(); offset += 16)
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                out[offset + 4 * c + r] = data[offset + 4 * r + c];
    return out;
}

// One password through OpenSSL the way our functions work: context, key
// schedule, every block, context freed.
bool libraryAes(const QByteArray &in, unsigned char *out, bool encrypt)
{
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    if (!ctx)
        return false;
    int length = 0;
    bool ok = EVP_CipherInit_ex(ctx, EVP_aes_128_ecb(), nullptr, reinterpret_cast<const unsigned char *>(kKey),
                                nullptr, encrypt ? 1 : 0) == 1
        && EVP_CIPHER_CTX_set_padding(ctx, 0) == 1
        && EVP_CipherUpdate(ctx, out, &length, reinterpret_cast<const unsigned char *>(in.constData()),
                            int(in.size())) == 1;
    EVP_CIPHER_CTX_free(ctx);
    return ok && length == in.size();
}

using Op = std::function<int(const Password &)>;

// ns per password of one run of at least 0.2 s.
double runOnce(const std::vector<Password> &passwords, const Op &op)
{
    using Clock = std::chrono::steady_clock;
    volatile int sink = 0;
    long long ops = 0;
    const auto start = Clock::now();
    auto elapsed = Clock::duration::zero();
    do {
        for (const Password &p : passwords)
            sink = sink + op(p);
        ops += static_cast<long long>(passwords.size());
        elapsed = Clock::now() - start;
    } while (elapsed < std::chrono::milliseconds(200));
    return std::chrono::duration<double, std::nano>(elapsed).count() / double(ops);
}

// Best of seven runs per operation; the operations take turns so that a
// busy machine weighs on all of them alike.
std::vector<double> measure(const std::vector<Password> &passwords, const std::vector<Op> &ops)
{
    std::vector<double> best(ops.size(), 1e30);
    for (int run = 0; run < 7; ++run)
        for (size_t i = 0; i < ops.size(); ++i)
            best[i] = std::min(best[i], runOnce(passwords, ops[i]));
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    // A failed encode writes a log line: keep it away from the real home.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    setenv("XDG_DATA_HOME", home.path().toLocal8Bit().constData(), 1);

    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    QRandomGenerator rng(2019);
    std::vector<Password> passwords;
    // Passwords whose cipher text holds a zero byte (stored length-prefixed)
    // are skipped, so that every field read back is the cipher text alone.
    std::fflush(stdout);
    const int savedStdout = ::dup(STDOUT_FILENO);
    const int devNull = ::open("/dev/null", O_WRONLY);
    if (savedStdout >= 0 && devNull >= 0)
        ::dup2(devNull, STDOUT_FILENO);
    const int lengths[] = {6, 8, 12, 16, 20, 24, 32};
    while (int(passwords.size()) < count) {
        Password p;
        p.plain.resize(lengths[passwords.size() % std::size(lengths)]);
        for (char &ch : p.plain)
            ch = char(rng.bounded(0x21, 0x7f));
        char out[64] = {};
        if (encode(p.plain.constData(), out) != 0)
            continue;
        const int prefixedLength = out[0] == 1 ? out[1] : 0;
        if ((prefixedLength == 16 || prefixedLength == 32 || prefixedLength == 48)
            && std::memchr(out + 2, 0, size_t(prefixedLength)) != nullptr)
            continue; // the length-prefixed form: its cipher text holds a zero byte
        p.cipher = QByteArray(out);
        QByteArray padded = p.plain;
        padded.append(QByteArray(int(p.cipher.size()) - int(padded.size()), '\0'));
        p.transposed = transposeBlocks(padded);
        p.transposedCipher = transposeBlocks(p.cipher);
        passwords.push_back(p);
    }
    std::fflush(stdout);
    if (savedStdout >= 0 && devNull >= 0)
        ::dup2(savedStdout, STDOUT_FILENO);
    if (devNull >= 0)
        ::close(devNull);
    if (savedStdout >= 0)
        ::close(savedStdout);

    // The baseline must compute the same thing.
    for (const Password &p : passwords) {
        unsigned char out[64];
        if (!libraryAes(p.transposed, out, true)
            || transposeBlocks(QByteArray(reinterpret_cast<char *>(out), int(p.transposed.size()))) != p.cipher) {
            std::fprintf(stderr, "baseline disagrees with encode\n");
            return 1;
        }
    }

    const std::vector<double> ns = measure(passwords, {
        [](const Password &p) {
            char out[64] = {};
            return encode(p.plain.constData(), out) + out[0];
        },
        [](const Password &p) {
            char out[64] = {};
            return decode(p.cipher.constData(), out) + out[0];
        },
        [](const Password &p) {
            unsigned char out[64];
            return libraryAes(p.transposed, out, true) ? out[0] : -1;
        },
        [](const Password &p) {
            unsigned char out[64];
            return libraryAes(p.transposedCipher, out, false) ? out[0] : -1;
        },
    });
    const double oursEncode = ns[0], oursDecode = ns[1], libEncode = ns[2], libDecode = ns[3];

    std::printf("password cipher, %d passwords of 6 to 32 characters\n", count);
    std::printf("%-44s %10s\n", "", "ns/op");
    std::printf("%-44s %10.1f\n", "encode (own AES-128, row-wise state)", oursEncode);
    std::printf("%-44s %10.1f\n", "decode (own AES-128, row-wise state)", oursDecode);
    std::printf("%-44s %10.1f\n", "baseline: OpenSSL EVP AES-128-ECB encrypt", libEncode);
    std::printf("%-44s %10.1f\n", "baseline: OpenSSL EVP AES-128-ECB decrypt", libDecode);
    std::printf("ratio encode / OpenSSL encrypt: %.2f\n", oursEncode / libEncode);
    std::printf("ratio decode / OpenSSL decrypt: %.2f\n", oursDecode / libDecode);
    return 0;
}
