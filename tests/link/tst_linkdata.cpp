// The measurement store's ring arithmetic and the identification parser:
// data handling of the link, no thread started.

#include "link/Identification.h"
#include "link/TcpClient.h"
#include "link/measureStore.h"

#include <QtTest>

class LinkDataTest : public QObject
{
    Q_OBJECT

private slots:
    void storeKeepsAtMostCapacityMinusOneAndDropsTheOldest()
    {
        auto sample = [](int n) { StreamSample s; s.x1 = int16_t(n); return s; };
        measureStore store(1040);
        StreamSample out = sample(-7);
        QVERIFY(!store.pop(out));
        QCOMPARE(int(out.x1), -7); // untouched

        for (int i = 0; i < 1040; ++i)
            store.push(sample(i));
        QCOMPARE(store.count(), 1039);
        QVERIFY(store.pop(out));
        QCOMPARE(int(out.x1), 1); // sample 0 was dropped

        // Wrapping around many times keeps order and count.
        for (int i = 1040; i < 5000; ++i)
            store.push(sample(i));
        QCOMPARE(store.count(), 1039);
        int expected = 5000 - 1039;
        while (store.pop(out))
            QCOMPARE(int(out.x1), int(int16_t(expected++)));
        QCOMPARE(expected, 5000);
    }

    void identificationIsParsed_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("variantM");
        QTest::addColumn<int>("version");
        QTest::addColumn<bool>("trigger");
        QTest::addColumn<QString>("id");
        const QByteArray head("\x00;", 2);
        QTest::newRow("standard") << head + "ORX-BS2-A-V31-7;" << false << 31 << true << "ORX-BS2-A-V31-7";
        QTest::newRow("variant M 12") << head + "ORX-BS2-N-VM12-X;" << true << 12 << false << "ORX-BS2-N-VM12-X";
        QTest::newRow("no version tag") << head + "ORX-BS2-A;" << false << 1 << true << "ORX-BS2-A";
        QTest::newRow("shortest") << head + "ORX" << false << 1 << false << "OR";
        QTest::newRow("other maker") << head + "ABC-BS2-A-V31-1;" << false << 1 << false << "";
        QTest::newRow("refusal") << QByteArray("\x01;ORX-V31-;", 11) << false << 1 << false << "";
        QTest::newRow("empty") << QByteArray() << false << 1 << false << "";
    }
    void identificationIsParsed()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, variantM);
        QFETCH(int, version);
        QFETCH(bool, trigger);
        QFETCH(QString, id);
        const ControllerIdentity identity = parseIdentification(reply);
        const bool valid = !id.isEmpty();
        QCOMPARE(identity.valid, valid);
        QCOMPARE(identity.controllerId, id);
        // Applying it to a connection sets exactly what the text says.
        TcpClient probe;
        QCOMPARE(applyIdentification(probe, identity), valid);
        QCOMPARE(probe.isVariantM(), variantM);
        QCOMPARE(probe.firmwareVersion(), version);
        QCOMPARE(probe.triggerCapable(), trigger);
    }
};

QTEST_GUILESS_MAIN(LinkDataTest)
#include "tst_linkdata.moc"
