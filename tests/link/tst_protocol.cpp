// The bytes the protocol module builds and the status bits it reads.

#include "link/Protocol.h"

#include <QtTest>

class ProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void argumentBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("expected");
        auto row = [](const char *name, const QByteArray &bytes, const QByteArray &expected) {
            QTest::newRow(name) << bytes << expected;
        };
        using namespace Protocol;
        row("rate 500", rateArguments(500), QByteArray("\x00\x00\x01\xF4;", 5));
        row("rate 2000", rateArguments(2000), QByteArray("\x00\x00\x07\xD0;", 5));
        row("stage 2", stageArgument(2), QByteArray("\x02;", 2));
        row("both stages", stageArgument(3), QByteArray("\x03;", 2));
        row("axis 1 x", axisArgument(1, 'x'), QByteArray("\x01x;", 3));
        row("axis 2 y", axisArgument(2, 'y'), QByteArray("\x02y;", 3));
        row("value 1.5", valueArgument(1, 1.5), QByteArray("\x01\x05\xDC;", 4));
        row("value truncated", valueArgument(2, 2.9999), QByteArray("\x02\x0B\xB7;", 4));
        row("value negative", valueArgument(1, -1.5), QByteArray("\x01\xFA\x24;", 4));
        row("axis value negative", axisValueArgument(2, 'x', -2.5), QByteArray("\x02x\xF6\x3C;", 5));
        row("axis value truncated toward zero", axisValueArgument(1, 'y', -0.0019), QByteArray("\x01y\xFF\xFF;", 5));
        row("axis raw", axisRawArgument(1, 'y', 0xABCD), QByteArray("\x01y\xAB\xCD;", 5));
        row("fram", framArguments(), QByteArray("\x00\x00\xFF;", 4));
        row("baud 115200", baudRateArguments(115200), QByteArray("\x01;", 2));
        row("baud 460800", baudRateArguments(460800), QByteArray("\x04;", 2));
        row("baud 921600", baudRateArguments(921600), QByteArray("\x09;", 2));
        row("baud 9600 unknown", QByteArray(1, baudRateCode(9600)), QByteArray(1, '\0'));
        row("label padded", labelArguments(QStringLiteral("Lab_1")), "Lab_1" + QByteArray(20, ' ') + ';');
        row("label cut", labelArguments(QString(30, 'z')), QByteArray(25, 'z') + ';');
        row("label empty", labelArguments(QString()), QByteArray(25, ' ') + ';');
    }
    void argumentBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, expected);
        QCOMPARE(bytes.toHex(' '), expected.toHex(' '));
    }

    // Each bit alone sets exactly its own flag.
    void statusBits_data()
    {
        QTest::addColumn<int>("bit");
        for (int bit = 0; bit < 8; ++bit)
            QTest::newRow(qPrintable(QStringLiteral("bit %1").arg(bit))) << bit;
    }
    void statusBits()
    {
        QFETCH(int, bit);
        const QByteArray reply = QByteArray("\x00;", 2) + char(1 << bit) + ';';
        const Protocol::StatusFlags s = Protocol::statusFromReply(reply);
        QVERIFY(s.valid);
        QCOMPARE(int(s.raw), 1 << bit);
        const bool flags[7] = {s.pFactorFromSoftware, s.adjustFromSoftware[0], s.adjustFromSoftware[1],
                               s.stabilizationOn[0], s.stabilizationOn[1], s.active[0], s.active[1]};
        for (int i = 0; i < 7; ++i)
            QVERIFY2(flags[i] == (i == bit), qPrintable(QStringLiteral("flag %1").arg(i)));
    }

    // What counts as a reply, a refusal and a value.
    void replies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("good");
        QTest::addColumn<bool>("refusal");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("status");
        QTest::newRow("acknowledge") << QByteArray("\x00;", 2) << true << false << -1 << false;
        QTest::newRow("value") << QByteArray("\x00;\x12\x34;", 5) << true << false << 0x1234 << false;
        QTest::newRow("status") << QByteArray("\x00;\x08;", 4) << true << false << 0x083B << true;
        QTest::newRow("refusal") << QByteArray("\x01;", 2) << false << true << -1 << false;
        QTest::newRow("time-out") << QByteArray() << false << false << -1 << false;
        QTest::newRow("no separator") << QByteArray("\x00\x00\x05;", 4) << false << false << -1 << false;
        QTest::newRow("status cut short") << QByteArray("\x00;\x08", 3) << true << false << -1 << false;
        QTest::newRow("status without end") << QByteArray("\x00;\x08X", 4) << true << false << 0x0858 << false;
    }
    void replies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, good);
        QFETCH(bool, refusal);
        QFETCH(int, value);
        QFETCH(bool, status);
        QCOMPARE(Protocol::isGoodReply(reply), good);
        QCOMPARE(Protocol::isRefusal(reply), refusal);
        QCOMPARE(Protocol::replyValue(reply), value);
        QCOMPARE(Protocol::statusFromReply(reply).valid, status);
    }

    // The reply fields: what the command-line tool prints and the device
    // server publishes is read through them, so a reply that is cut, refused
    // or unterminated must yield nothing.
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

    // The looser acknowledgement some commands are judged by, and the 16-bit
    // words read from a reply.
    void judgesAndReadsReplies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("judged"); // good, acknowledged (1 byte), acknowledged (2 bytes)
        QTest::addColumn<int>("word");       // the word at byte 2, -1 when too short
        QTest::newRow("time-out") << QByteArray() << "000" << -1;
        QTest::newRow("lone 0x00") << QByteArray(1, '\0') << "010" << -1;
        QTest::newRow("good, no value") << QByteArray("\x00;", 2) << "111" << -1;
        QTest::newRow("0x00 without ';'") << QByteArray("\x00X", 2) << "011" << -1;
        QTest::newRow("refusal") << QByteArray("\x01;", 2) << "000" << -1;
        QTest::newRow("value, high byte first") << QByteArray("\x00;\xFC\x18;", 5) << "111" << 0xFC18;
        QTest::newRow("one byte short of a word") << QByteArray("\x00;\xFC", 3) << "111" << -1;
    }
    void judgesAndReadsReplies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, judged);
        QFETCH(int, word);
        QCOMPARE(QString("%1%2%3")
                     .arg(int(Protocol::isGoodReply(reply)))
                     .arg(int(Protocol::isAcknowledged(reply)))
                     .arg(int(Protocol::isAcknowledged(reply, 2))),
                 judged);
        QCOMPARE(Protocol::replyWord(reply, 2), word);
    }
};

QTEST_APPLESS_MAIN(ProtocolTest)
#include "tst_protocol.moc"
