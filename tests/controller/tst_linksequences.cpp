// Command sequences on a link to the embedded simulator.

#include "SimulatorLink.h"

#include "controller/LinkSequences.h"

#include <QtTest>

class LinkSequencesTest : public QObject
{
    Q_OBJECT
private slots:
    // A command inside a stream pause: the samples of the stream before the
    // pause are still in the store when the hook runs (the restart empties
    // it), the stream is stopped then, and it runs again afterwards.
    void pauseHandsTheStoredSamplesOver()
    {
        Simulator sim;
        auto link = benchLink(sim);
        QVERIFY(link);
        QVERIFY(LinkSequences::startStream(*link, 500));
        QTRY_VERIFY_WITH_TIMEOUT(link->storedSamples() >= 50, 20000);

        std::vector<quint32> kept;
        bool streamingInHook = true;
        const LinkSequences::PausedOutcome outcome = LinkSequences::paused(
            *link,
            [&] {
                link->getStatusFlags();
                QByteArray reply;
                link->waitForReply(reply);
                return reply;
            },
            [&] {
                streamingInHook = link->isStreaming();
                StreamSample s;
                while (link->takeSample(s))
                    kept.push_back(sequenceOf(s));
            });
        QVERIFY(outcome.accepted);
        QVERIFY(outcome.streamResumed);
        QVERIFY(Protocol::statusFromReply(outcome.reply).valid);
        QVERIFY(!streamingInHook);
        QVERIFY2(kept.size() >= 50, qPrintable(QString::number(kept.size())));
        for (std::size_t i = 0; i < kept.size(); ++i)
            QCOMPARE(kept[i], quint32(i + 1));

        // The restarted stream numbers from 1 again: nothing of the first run
        // was left in the store.
        StreamSample s;
        QTRY_VERIFY_WITH_TIMEOUT(link->storedSamples() > 0, 20000);
        QVERIFY(link->takeSample(s));
        QCOMPARE(sequenceOf(s), 1u);
        LinkSequences::stopStream(*link);
        QVERIFY(!link->isStreaming());
    }
};

QTEST_MAIN(LinkSequencesTest)
#include "tst_linksequences.moc"
