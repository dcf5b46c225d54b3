// The measurement store and the identification parser; no thread started.

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
        QCOMPARE(store.overwritten(), qint64(1));
        QVERIFY(store.pop(out));
        QCOMPARE(int(out.x1), 1); // sample 0 was dropped
        for (int i = 1040; i < 5000; ++i)
            store.push(sample(i));
        QCOMPARE(store.count(), 1039);
        QCOMPARE(store.overwritten(), qint64(5000 - 1039 - 1)); // one was popped
        store.clear();
        QCOMPARE(store.overwritten(), qint64(5000 - 1039 - 1));
        for (int i = 5000 - 1039; i < 5000; ++i)
            store.push(sample(i));
        int expected = 5000 - 1039;
        while (store.pop(out))
            QCOMPARE(int(out.x1), int(int16_t(expected++)));
        QCOMPARE(expected, 5000);
    }

    // Reply, identity (empty: invalid) and what applying it sets on a link.
    void identificationIsParsed()
    {
        const QByteArray head("\x00;", 2);
        for (auto [reply, id, variantM, version, trigger] :
             std::initializer_list<std::tuple<QByteArray, QString, bool, int, bool>>{
                 {head + "ORX-BS2-A-V31-7;", "ORX-BS2-A-V31-7", false, 31, true},
                 {head + "ORX-BS2-N-VM12-X;", "ORX-BS2-N-VM12-X", true, 12, false},
                 {head + "ORX-BS2-A;", "ORX-BS2-A", false, 1, true},
                 {head + "ORX", "OR", false, 1, false},
                 {head + "ABC-BS2-A-V31-1;", "", false, 1, false},
                 {QByteArray("\x01;ORX-V31-;", 11), "", false, 1, false},
                 {QByteArray(), "", false, 1, false}}) {
            const ControllerIdentity identity = parseIdentification(reply);
            TcpClient probe;
            QCOMPARE(applyIdentification(probe, identity), !id.isEmpty());
            const auto applied = std::make_tuple(identity.valid, identity.controllerId, probe.isVariantM(),
                                                 probe.firmwareVersion(), probe.triggerCapable());
            QCOMPARE(applied, std::make_tuple(!id.isEmpty(), id, variantM, version, trigger));
        }
    }
};

QTEST_GUILESS_MAIN(LinkDataTest)
#include "tst_linkdata.moc"
