#include "device/passwordcipher.h"

#include "common/logfile.h"
#include "tests/support/testenv.h"

#include <QRandomGenerator>
#include <QSet>
#include <QtTest>

#include <openssl/evp.h>

#include <cstring>

// The cipher is checked against an independent AES-128: OpenSSL's, applied
// to the transposed block (our state is laid out row by row).
using varno::test::logText;

namespace {

constexpr char kKey[] = "MorvaShield@5170";

// Standard AES-128-ECB of one block with OpenSSL.
QByteArray libraryAes(const QByteArray &block, bool decrypt = false)
{
    Q_ASSERT(block.size() == 16);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    QByteArray out(32, '\0');
    int outLength = 0;
    bool ok = ctx && EVP_CipherInit_ex(ctx, EVP_aes_128_ecb(), nullptr,
                                       reinterpret_cast<const unsigned char *>(kKey), nullptr,
                                       decrypt ? 0 : 1) == 1;
    ok = ok && EVP_CIPHER_CTX_set_padding(ctx, 0) == 1;
    ok = ok && EVP_CipherUpdate(ctx, reinterpret_cast<unsigned char *>(out.data()), &outLength,
                                reinterpret_cast<const unsigned char *>(block.constData()), 16) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok || outLength != 16)
        qFatal("OpenSSL AES failed");
    out.truncate(16);
    return out;
}

// The block as a 4x4 byte matrix, transposed.
QByteArray transpose(const QByteArray &block)
{
    QByteArray out(16, '\0');
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out[4 * c + r] = block[4 * r + c];
    return out;
}

// The expected cipher text of a password: zero-padded blocks, each through
// "transpose, library AES, transpose".
QByteArray expectedCipher(const QByteArray &password)
{
    QByteArray padded = password;
    padded.append(QByteArray((16 - padded.size() % 16) % 16, '\0'));
    QByteArray out;
    for (int offset = 0; offset < padded.size(); offset += 16)
        out += transpose(libraryAes(transpose(padded.mid(offset, 16))));
    return out;
}

QByteArray randomPrintable(QRandomGenerator &rng, int length)
{
    QByteArray text(length, '\0');
    for (char &ch : text)
        ch = static_cast<char>(rng.bounded(0x20, 0x7f));
    return text;
}

// A 64-byte password field with guard bytes behind it.
struct Field
{
    char buf[64];
    char guard[16];

    explicit Field(char fill = 0)
    {
        std::memset(buf, fill, sizeof(buf));
        std::memset(guard, 0x5a, sizeof(guard));
    }
    bool guardIntact() const
    {
        for (char g : guard)
            if (g != 0x5a)
                return false;
        return true;
    }
    bool zeroFrom(int offset) const
    {
        for (int i = offset; i < 64; ++i)
            if (buf[i] != 0)
                return false;
        return true;
    }
    QByteArray bytes(int n) const { return QByteArray(buf, n); }
};

// The failure line of a password: its length is written, the password
// itself is not.
QByteArray logLine(const char *what, const QByteArray &input)
{
    return QByteArray("[level:2]") + what + " failed, inBuf[315***18" + QByteArray::number(input.size() + 5)
        + "]!!!\r\n";
}

// The stored form of a cipher text: as it is, or length-prefixed when it
// holds a zero byte.
QByteArray storedForm(const QByteArray &cipher)
{
    if (!cipher.contains('\0'))
        return cipher;
    return QByteArray(1, '\x01') + char(cipher.size()) + cipher;
}

// A printable password of the given length whose cipher text holds a zero
// byte at index zeroAt and none before it.
QByteArray passwordWithZeroAt(QRandomGenerator &rng, int length, int zeroAt)
{
    for (int attempt = 0; attempt < 200000; ++attempt) {
        const QByteArray password = randomPrintable(rng, length);
        const QByteArray cipher = expectedCipher(password);
        if (cipher.indexOf('\0') == zeroAt)
            return password;
    }
    return {};
}

} // namespace

class TestPasswordCipher : public QObject
{
    Q_OBJECT

private slots:
    void matchesLibraryAesOnTransposedBlock()
    {
        // Every length up to the longest that fits the field, and back to the
        // exact password.
        QRandomGenerator rng(20190225);
        int asIs = 0;
        int prefixed = 0;
        QSet<int> lengths;
        for (int i = 0; i < 3000; ++i) {
            const QByteArray password = randomPrintable(rng, 1 + int(rng.bounded(48)));
            lengths.insert(int(password.size()));
            const QByteArray expected = storedForm(expectedCipher(password));
            Field out;
            QCOMPARE(encode(password.constData(), out.buf), 0);
            QVERIFY(out.guardIntact());
            QCOMPARE(out.bytes(expected.size()), expected);
            QVERIFY(out.zeroFrom(expected.size()));
            ++(expected.size() % 16 != 0 ? prefixed : asIs);
            Field plain;
            QCOMPARE(decode(out.buf, plain.buf), 0);
            QCOMPARE(QByteArray(plain.buf), password);
            QVERIFY(plain.zeroFrom(int(password.size())));
            QVERIFY(plain.guardIntact());
        }
        QCOMPARE(lengths.size(), 48);
        // Both forms occur with random passwords of up to three blocks.
        QVERIFY(asIs > 2000);
        QVERIFY(prefixed > 50);

        // Non-ASCII UTF-8 passwords are bytes like any other.
        const QByteArray utf8 = QStringLiteral("Passw\u00f6rter\u00fc").toUtf8();
        Field out;
        QCOMPARE(encode(utf8.constData(), out.buf), 0);
        QCOMPARE(out.bytes(16), expectedCipher(utf8));
    }

    void plainTextDecodeFails()
    {
        const QByteArray stored("admin123");
        Field out(0x33);
        QCOMPARE(decode(stored.constData(), out.buf), -102);
        for (char b : out.buf)
            QCOMPARE(b, char(0x33));
        QVERIFY(logText().contains(logLine("Decode", stored)));
        QVERIFY(!logText().contains(stored));

        // A field filled to its end without a terminator is read no further.
        struct { char field[64]; char next[8]; } record;
        std::memset(record.field, 'A', sizeof(record.field));
        std::memcpy(record.next, "NEXTFLD", 8);
        Field out2;
        QCOMPARE(decode(record.field, out2.buf), -102);
        QVERIFY(out2.zeroFrom(0));
        QVERIFY(logText().contains(logLine("Decode", QByteArray(64, 'A'))));
        QVERIFY(!logText().contains("AAAA"));
    }

    void plainBlockLengthTextIsNotTakenForCipher()
    {
        // Older clients stored a password of 16 or 32 characters whose cipher
        // text holds a zero byte in plain; reading it back must keep it, not
        // decipher it into garbage.
        QRandomGenerator rng(4242);
        for (int i = 0; i < 2000; ++i) {
            const QByteArray plain = randomPrintable(rng, (i % 2) ? 16 : 32);
            Field out(0x11);
            QCOMPARE(decode(plain.constData(), out.buf), -102);
            for (char b : out.buf)
                QCOMPARE(b, char(0x11));
        }
    }

    void zeroByteInCipherTextStoredWithLength()
    {
        // Inside a block, and at a block start: there the measured length is a
        // multiple of 16, yet reading the field back as text would lose bytes.
        QRandomGenerator rng(101);
        for (const auto &[length, zeroAt] : {std::pair{12, 7}, std::pair{25, 21}, std::pair{10, 0}, std::pair{20, 16},
                                             std::pair{40, 32}, std::pair{41, 47}}) {
            const QByteArray password = passwordWithZeroAt(rng, length, zeroAt);
            QVERIFY(!password.isEmpty());
            Field out;
            QCOMPARE(encode(password.constData(), out.buf), 0);
            QVERIFY(out.guardIntact());
            QCOMPARE(out.bytes(50).left(2 + (length + 15) / 16 * 16), storedForm(expectedCipher(password)));
            Field plain;
            QCOMPARE(decode(out.buf, plain.buf), 0);
            QCOMPARE(QByteArray(plain.buf), password);
        }
        QVERIFY(!logText().contains("Encode failed"));
    }

    void cipherLikeTheLengthFormIsReadAsItIs()
    {
        // A record an older client wrote: the cipher text as it is, one that
        // starts like the length-prefixed form. (Short passwords whose cipher
        // text holds a zero byte, once stored in plain, are the rows above.)
        QRandomGenerator rng(2000);
        for (int attempt = 0;; ++attempt) {
            QVERIFY(attempt < 2000000);
            const QByteArray password = randomPrintable(rng, 7);
            const QByteArray cipher = expectedCipher(password);
            const int second = uchar(cipher.at(1));
            if (cipher.at(0) != 1 || (second != 16 && second != 32 && second != 48) || cipher.contains('\0'))
                continue;
            Field marked;
            std::memcpy(marked.buf, cipher.constData(), 16);
            Field back;
            QCOMPARE(decode(marked.buf, back.buf), 0);
            QCOMPARE(QByteArray(back.buf), password);
            break;
        }
    }

    void oversizedInputNeverOverruns()
    {
        QRandomGenerator rng(49);
        for (int length : {49, 63, 64, 65, 300, 5000}) {
            const QByteArray password = randomPrintable(rng, length);
            Field out;
            QCOMPARE(encode(password.constData(), out.buf), -101);
            QVERIFY(out.zeroFrom(0));
            QVERIFY(out.guardIntact());
        }
    }

    void nonTextPasswordsRefused()
    {
        // Control characters and broken UTF-8 would not be accepted back by
        // decode, so encode refuses them and the caller keeps them in plain.
        for (const QByteArray &password : {QByteArray("ab\x01" "cd"), QByteArray("tab\there"), QByteArray("del\x7f"),
                                           QByteArray("bad\xff\xfeutf8"), QByteArray("cut\xc3")}) {
            Field out;
            QCOMPARE(encode(password.constData(), out.buf), -101);
            QVERIFY(out.zeroFrom(0));
            const QByteArray cipher = expectedCipher(password);
            if (!cipher.contains('\0')) {
                Field plain;
                QCOMPARE(decode(cipher.constData(), plain.buf), -102);
                QVERIFY(plain.zeroFrom(0));
            }
        }
    }

    void nullPointersAndEmptyPassword()
    {
        char buf[64] = {};
        QCOMPARE(encode(nullptr, buf), -103);
        QCOMPARE(encode("secret", nullptr), -103);
        QCOMPARE(decode(nullptr, buf), -103);
        QCOMPARE(decode("0123456789abcdef", nullptr), -103);

        QCOMPARE(encode("", buf), 0);
        QCOMPARE(decode(buf, buf), 0);
        for (char b : buf)
            QCOMPARE(b, '\0');
    }
};

QTEST_GUILESS_MAIN(TestPasswordCipher)
#include "tst_passwordcipher.moc"
