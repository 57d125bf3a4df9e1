#include "common/textfield.h"

#include <QtTest>

class TestTextField : public QObject
{
    Q_OBJECT

private slots:
    void cutsAndTerminates();
    void neverSplitsUtf8();
    void nullAndUnterminated();
};

void TestTextField::cutsAndTerminates()
{
    char field[8];
    std::memset(field, 'x', sizeof(field));
    varno::setText(field, "abcdefghijkl");
    QCOMPARE(QByteArray(field), QByteArray("abcdefg"));
    varno::setText(field, "ab");
    QCOMPARE(QByteArray(field), QByteArray("ab"));
    for (size_t i = 2; i < sizeof(field); ++i)
        QCOMPARE(field[i], '\0');

    // The guard byte behind the field is untouched.
    struct { char f[4]; char guard; } s;
    s.guard = 0x5a;
    varno::setText(s.f, QString(QStringLiteral("overlong text")));
    QCOMPARE(s.guard, char(0x5a));
    QCOMPARE(QByteArray(s.f), QByteArray("ove"));
}

void TestTextField::neverSplitsUtf8()
{
    char field[6];
    // "aäöü": a (1 byte) + three 2-byte letters = 7 bytes; 5 fit, the cut
    // must fall between whole letters.
    varno::setText(field, QStringLiteral("a\u00e4\u00f6\u00fc"));
    QCOMPARE(QString::fromUtf8(field), QStringLiteral("a\u00e4\u00f6"));
    QCOMPARE(varno::textLength(field), size_t(5));

    char small[3];
    varno::setText(small, QStringLiteral("\u20ac")); // 3-byte sequence cannot fit in 2
    QCOMPARE(varno::textLength(small), size_t(0));
}

void TestTextField::nullAndUnterminated()
{
    char field[4] = {'a', 'b', 'c', 'd'};
    QCOMPARE(varno::textLength(field), size_t(4));
    QCOMPARE(varno::fieldText(field), QStringLiteral("abcd"));
    varno::setText(field, static_cast<const char *>(nullptr));
    QCOMPARE(varno::textLength(field), size_t(0));
}

QTEST_GUILESS_MAIN(TestTextField)
#include "tst_textfield.moc"
