// How replies are judged and read: the strict rule (0x00 ';'), the looser one
// some commands are judged by (first byte 0x00, a minimum length), and the
// 16-bit words read from a reply; plus the raw-value argument encoders.

#include "link/Protocol.h"

#include <QTest>

class ReplyJudgingTest : public QObject
{
    Q_OBJECT

private slots:
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

    void encodesRawValues()
    {
        QCOMPARE(Protocol::stageRawArgument(2, 100), QByteArray("\x02\x00\x64;", 4));
        QCOMPARE(Protocol::stageRawArgument(1, 5000), QByteArray("\x01\x13\x88;", 4));
        QCOMPARE(Protocol::axisRawArgument(1, 'y', quint16(qint16(-1000))), QByteArray("\x01y\xFC\x18;", 5));
    }
};

QTEST_MAIN(ReplyJudgingTest)
#include "tst_replyjudging.moc"
