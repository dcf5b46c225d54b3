#include "setup/ConnectionSettings.h"

#include <QTextCodec>
#include <QtTest>

#include <cstring>

// Device keys and the fixed-size text fields of a connection record.
class TestConnectionSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void deviceKeys_data();
    void deviceKeys();
    void fixedFieldsCutSafely_data();
    void fixedFieldsCutSafely();
    void unterminatedFieldIsReadWithinBounds();
};

void TestConnectionSettings::initTestCase()
{
    // The cutting rules are checked against a multi-byte local encoding.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
}

void TestConnectionSettings::deviceKeys_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("key");
    const QString longId = QStringLiteral("ORX-KV-V31-A-0123456789ABCDEFGHIJKLMNOPQRSTUVWX");
    QTest::newRow("48 characters: 14..24") << longId << longId.mid(14, 11);
    QTest::newRow("exactly 25") << longId.left(25) << longId.mid(14, 11);
    QTest::newRow("20 characters: last 11") << QStringLiteral("ORX-0123456789abcdef") << QStringLiteral("456789abcdef").right(11);
    QTest::newRow("shorter than 11") << QStringLiteral("ORX-12") << QStringLiteral("ORX-12");
    QTest::newRow("empty") << QString() << QString();
}

void TestConnectionSettings::deviceKeys()
{
    QFETCH(QString, id);
    QTEST(deviceKey(id), "key");
}

void TestConnectionSettings::fixedFieldsCutSafely_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const QString e = QString::fromUtf8("\xc3\xa9");           // 2 bytes
    const QString clef = QString::fromUtf8("\xf0\x9d\x84\x9e"); // 4 bytes, surrogate pair
    QTest::newRow("fits") << QStringLiteral("Lab_1") << QStringLiteral("Lab_1");
    QTest::newRow("63 ASCII fit") << QString(63, 'a') << QString(63, 'a');
    QTest::newRow("64 ASCII cut to 63") << QString(64, 'b') << QString(63, 'b');
    QTest::newRow("far too long") << QString(100000, 'c') << QString(63, 'c');
    // 62 ASCII bytes leave one byte, too few for a two-byte character.
    QTest::newRow("multi-byte at the end") << QString(62, 'd') + e << QString(62, 'd');
    QTest::newRow("multi-byte only") << QString(40, e.at(0)) << QString(31, e.at(0));
    QTest::newRow("surrogate pair at the end") << QString(60, 'f') + clef << QString(60, 'f');
    QTest::newRow("surrogate pair fits") << QString(59, 'g') + clef << QString(59, 'g') + clef;
    QTest::newRow("surrogate pair split by length") << QString(62, 'h') + clef << QString(62, 'h');
}

void TestConnectionSettings::fixedFieldsCutSafely()
{
    QFETCH(QString, text);
    ConnectionSettings record;
    std::memset(record.label, 'x', sizeof record.label); // stale content
    setFixedText(record.label, text);
    QTEST(fixedText(record.label), "expected");
    QCOMPARE(record.label[sizeof record.label - 1], '\0');

    // A small field cuts the same way and leaves its neighbours alone.
    setFixedText(record.key, text);
    QCOMPARE(record.key[sizeof record.key - 1], '\0');
    QVERIFY(fixedText(record.key).toUtf8().size() <= 11);
    QVERIFY(text.startsWith(fixedText(record.key)));
    QTEST(fixedText(record.label), "expected");
    QCOMPARE(record.id[0], '\0');
}

void TestConnectionSettings::unterminatedFieldIsReadWithinBounds()
{
    struct {
        char field[8];
        char guard[8];
    } memory;
    std::memset(memory.field, 'A', sizeof memory.field);
    std::memset(memory.guard, 'B', sizeof memory.guard);
    QCOMPARE(fromFixedField(memory.field, sizeof memory.field), QStringLiteral("AAAAAAAA"));
}

QTEST_APPLESS_MAIN(TestConnectionSettings)
#include "tst_connectionsettings.moc"
