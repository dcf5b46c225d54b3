// The measurement store's ring arithmetic, the identification parser and
// the sampling-rate range: pure data handling of the link, without a thread.

#include "link/Connection.h"
#include "link/Identification.h"
#include "link/measureStore.h"

#include <QtTest>

namespace {

// A connection without a transport: only its settings are used.
struct Probe : Connection {
    QString address() const override { return {}; }
    bool isTcp() const override { return false; }
    bool initialize(QString, int) override { return true; }
    int parameter() const override { return 0; }
    void resync() override {}
    void clearInput() override {}
};

StreamSample sample(int n)
{
    StreamSample s;
    s.x1 = int16_t(n);
    return s;
}

} // namespace

class LinkDataTest : public QObject
{
    Q_OBJECT

private slots:
    void storeKeepsAtMostCapacityMinusOneAndDropsTheOldest()
    {
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
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("variantM");
        QTest::addColumn<int>("version");
        QTest::addColumn<bool>("trigger");
        QTest::addColumn<QString>("id");
        const QByteArray head("\x00;", 2);
        QTest::newRow("standard") << head + "ORX-BS2-A-V31-00017;" << true << false << 31 << true
                                  << "ORX-BS2-A-V31-00017";
        QTest::newRow("variant M 12") << head + "ORX-BS2-N-VM12-X;" << true << true << 12 << false
                                      << "ORX-BS2-N-VM12-X";
        QTest::newRow("no version tag") << head + "ORX-BS2-A;" << true << false << 1 << true << "ORX-BS2-A";
        QTest::newRow("shortest") << head + "ORX" << true << false << 1 << false << "OR";
        QTest::newRow("other maker") << head + "ABC-BS2-A-V31-1;" << false << false << 1 << false << "";
        QTest::newRow("refusal") << QByteArray("\x01;ORX-V31-;", 11) << false << false << 1 << false << "";
        QTest::newRow("empty") << QByteArray() << false << false << 1 << false << "";
    }
    void identificationIsParsed()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, valid);
        QFETCH(bool, variantM);
        QFETCH(int, version);
        QFETCH(bool, trigger);
        QFETCH(QString, id);
        const ControllerIdentity identity = parseIdentification(reply);
        QCOMPARE(identity.valid, valid);
        QCOMPARE(identity.controllerId, id);
        // Applying it to a connection sets exactly what the text says.
        Probe probe;
        QCOMPARE(applyIdentification(probe, identity), valid);
        QCOMPARE(probe.isVariantM(), variantM);
        QCOMPARE(probe.firmwareVersion(), version);
        QCOMPARE(probe.triggerCapable(), trigger);
    }

    void samplingRateAcceptsOneToFiveHundred()
    {
        Probe probe;
        QVERIFY(!probe.setSamplingRate(0));
        QVERIFY(probe.setSamplingRate(1));
        QVERIFY(!probe.setSamplingRate(501));
        QCOMPARE(probe.samplingRate(), 1);
        QVERIFY(probe.setSamplingRate(500));
    }
};

QTEST_GUILESS_MAIN(LinkDataTest)
#include "tst_linkdata.moc"
