#include "common/textfield.h"

#include <QtTest>

// Text given as QString (cuts between whole letters, every field size) is
// checked with the records' fields in tst_records.

class TestTextField : public QObject
{
    Q_OBJECT

private slots:
    void cutsAndTerminates();
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
