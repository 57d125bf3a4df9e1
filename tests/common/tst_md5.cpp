#include "common/authtoken.h"
#include "common/md5.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QtTest>

#include <climits>
#include <cstring>

namespace {

QByteArray hexOf(const varno::Md5::Digest &digest)
{
    return QByteArray(reinterpret_cast<const char *>(digest.data()), int(digest.size())).toHex();
}

// The independent reference: Qt's MD5.
QByteArray referenceHex(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

QByteArray randomBytes(QRandomGenerator &rng, int size)
{
    QByteArray data(size, '\0');
    for (char &b : data)
        b = char(rng.bounded(256));
    return data;
}

} // namespace

class TestMd5 : public QObject
{
    Q_OBJECT

private slots:
    void paddingBoundaries()
    {
        // The text interface, with a vector of RFC 1321.
        QCOMPARE(QByteArray::fromStdString(varno::md5Hex("message digest")), QByteArray("f96b697d7cb7938d525a2f31aaf161d0"));
        // Lengths around the 56-byte padding limit and the 64-byte block.
        QRandomGenerator rng(1321);
        for (int size = 0; size <= 200; ++size) {
            const QByteArray data = randomBytes(rng, size);
            QCOMPARE(hexOf(varno::md5(data.constData(), size_t(size))), referenceHex(data));
        }
        const QByteArray big = randomBytes(rng, 1 << 20);
        QCOMPARE(hexOf(varno::md5(big.constData(), size_t(big.size()))), referenceHex(big));
    }

    void incrementalEqualsOneShot()
    {
        QRandomGenerator rng(64);
        const QByteArray data = randomBytes(rng, 300);
        const QByteArray expected = referenceHex(data);
        for (int first = 0; first <= data.size(); ++first) {
            varno::Md5 hash;
            hash.update(data.constData(), size_t(first));
            // The rest in uneven pieces.
            int offset = first;
            int piece = 1;
            while (offset < data.size()) {
                const int n = std::min(piece, int(data.size()) - offset);
                hash.update(data.constData() + offset, size_t(n));
                offset += n;
                piece = piece * 3 % 71 + 1;
            }
            QCOMPARE(hexOf(hash.finish()), expected);
            // The object starts over after finish.
            hash.update("abc");
            QCOMPARE(hexOf(hash.finish()), QByteArray("900150983cd24fb0d6963f7d28e17f72"));
        }
    }

    void authTokenNumbersAndPasswords()
    {
        // 32 lower-case hex digits of MD5("password:number:varno"). Negative
        // numbers carry their sign; passwords of any length and any bytes go in
        // whole; the token never takes more than its 33 bytes.
        QRandomGenerator rng(33);
        QList<QByteArray> passwords{QByteArray(), QStringLiteral("Kennw\u00f6rt\u5bc6\u7801").toUtf8()};
        for (int length : {31, 32, 33, 64, 1000, 100000}) {
            QByteArray password(length, '\0');
            for (char &ch : password)
                ch = char(rng.bounded(0x21, 0x7f));
            passwords.append(password);
        }
        for (const QByteArray &password : passwords) {
            for (int32_t number : {0, 1, -1, -5, 1234567, INT32_MAX, INT32_MIN}) {
                char token[kAuthTokenSize + 1];
                token[kAuthTokenSize] = 0x5a;
                QCOMPARE(MakeAuthToken(password.constData(), number, token), 0);
                QCOMPARE(QByteArray(token), referenceHex(password + ':' + QByteArray::number(number) + ":varno"));
                QCOMPARE(token[kAuthTokenSize], char(0x5a));
            }
        }
    }

    void authTokenNullArguments()
    {
        char token[kAuthTokenSize];
        std::memset(token, 'q', sizeof(token));
        QCOMPARE(MakeAuthToken(nullptr, 5, token), -1);
        for (char ch : token)
            QCOMPARE(ch, 'q');
        QCOMPARE(MakeAuthToken("abc", 5, nullptr), -1);
    }
};

QTEST_GUILESS_MAIN(TestMd5)
#include "tst_md5.moc"
