// The reply fields and raw-value arguments of the protocol module: what the
// command-line tool prints and the device server publishes is read through
// them, so a reply that is cut, refused or unterminated must yield nothing.

#include "link/Protocol.h"

#include <QtTest>

class ProtocolFieldsTest : public QObject
{
    Q_OBJECT

private slots:
    void replyFields_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QList<int>>("values");

        const QByteArray common("\x00;\x80\x01\x00\x02\xFF\xFF\x12\x34;", 11);
        QTest::newRow("common detector") << QByteArray("GCA") << common << true << common.mid(2, 8)
                                         << QList<int>{0x8001, 2, 0xFFFF, 0x1234};
        QTest::newRow("value") << QByteArray("GIN") << QByteArray("\x00;\x01\x02;", 5) << true
                               << QByteArray("\x01\x02", 2) << QList<int>{0x0102};
        QTest::newRow("flags: one data byte, no value") << QByteArray("GSF") << QByteArray("\x00;\x28;", 4) << true
                                                        << QByteArray("\x28") << QList<int>{};
        QTest::newRow("acknowledgement") << QByteArray("SEA") << QByteArray("\x00;", 2) << true << QByteArray()
                                         << QList<int>{};
        QTest::newRow("acknowledgement where data is due") << QByteArray("GIN") << QByteArray("\x00;", 2) << false
                                                           << QByteArray() << QList<int>{};
        QTest::newRow("longer than the command's reply") << QByteArray("GIN") << QByteArray("\x00;\x01\x02\x03;", 6)
                                                         << false << QByteArray("\x01\x02\x03") << QList<int>{0x0102};
        QTest::newRow("unterminated") << QByteArray("GIN") << QByteArray("\x00;\x01\x02\x03", 5) << true
                                      << QByteArray() << QList<int>{};
        QTest::newRow("refusal of full length") << QByteArray("GIN") << QByteArray("\x01;\x01\x02;", 5) << false
                                                << QByteArray() << QList<int>{};
        QTest::newRow("time-out") << QByteArray("GCA") << QByteArray() << false << QByteArray() << QList<int>{};
    }

    void replyFields()
    {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        QFETCH(bool, complete);
        QFETCH(QByteArray, data);
        QFETCH(QList<int>, values);
        QCOMPARE(Protocol::isCompleteReply(command, reply), complete);
        QCOMPARE(Protocol::replyData(reply), data);
        QCOMPARE(Protocol::replyValues(reply), values);
    }

    // Raw values go high byte first, the whole 16-bit range.
    void stageRawArgument()
    {
        QCOMPARE(Protocol::stageRawArgument(1, 250), QByteArray("\x01\x00\xFA;", 4));
        QCOMPARE(Protocol::stageRawArgument(2, 0xFFFF), QByteArray("\x02\xFF\xFF;", 4));
        QCOMPARE(Protocol::stageRawArgument(2, 0x0100), QByteArray("\x02\x01\x00;", 4));
    }
};

QTEST_GUILESS_MAIN(ProtocolFieldsTest)
#include "tst_protocolfields.moc"
