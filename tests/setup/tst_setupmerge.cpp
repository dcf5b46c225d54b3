#include "SetupFileFixture.h"

#include <QtTest>

#include <memory>

using namespace setuptest;

// How the detector part is merged into an existing setup file and how a
// saved setup replaces the file.
class TestSetupMerge : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void detectorMerge_data();
    void detectorMerge();
    void savingSetupRemovesDetectorOnlyDevices();
    void detectorOnlyRecordsKeepTheirElement();
    void unwritablePathsFail();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

namespace {

const QByteArray fullA = R"(<Device_A><Settings id="A" name="ttyA"/><DisplayColors colorX="#ff0000"/><Detector1 model="0" beamDiameter="50" calculation="0"/><Detector2 model="0" beamDiameter="50" calculation="0"/><General pulsedLaser="0"/></Device_A>)";
const QByteArray fullB = R"(<Device_B><Settings id="B" name="ttyB"/><DisplayColors/><Detector1 model="5"/><Detector2/><General pulsedLaser="0"/></Device_B>)";
const QString full = QStringLiteral(": Settings DisplayColors Detector1 Detector2 General");
const QString detectorsOnly = QStringLiteral(": Detector1 Detector2 General");

} // namespace

void TestSetupMerge::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    dataDirectory = QDir(m_dir->path());
}

void TestSetupMerge::detectorMerge_data()
{
    QTest::addColumn<QByteArray>("initial"); // null: no file
    QTest::addColumn<QStringList>("ids");     // records merged, in list order
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("with General: updated in place") << setupXml(fullA + fullB) << QStringList{"A"}
                                                   << QStringList{"Device_A" + full, "Device_B" + full};
    QTest::newRow("without General: completed and moved to the end")
        << setupXml(R"(<Device_A><Settings id="A"/><Detector1 model="4"/></Device_A>)" + fullB) << QStringList{"A"}
        << QStringList{"Device_B" + full, "Device_A: Settings Detector1 Detector1 Detector2 General"};
    QTest::newRow("General without detectors: nothing added")
        << setupXml(R"(<Device_A><Settings id="A"/><General pulsedLaser="0"/></Device_A>)") << QStringList{"A"}
        << QStringList{"Device_A: Settings General"};
    QTest::newRow("new device appended") << setupXml(fullB) << QStringList{"C"}
                                         << QStringList{"Device_B" + full, "Device_C" + detectorsOnly};
    QTest::newRow("several in list order")
        << setupXml(R"(<Device_A><Settings id="A"/></Device_A>)" + fullB + "<!-- kept -->") << QStringList{"B", "C", "A"}
        << QStringList{"Device_B" + full, "Device_C" + detectorsOnly, "Device_A: Settings Detector1 Detector2 General"};
    QTest::newRow("key from a long ID") << setupXml(fullB) << QStringList{"ORX-KV-V31-A-0123456789ABCDEFGHIJ"}
                                        << QStringList{"Device_B" + full, "Device_123456789AB" + detectorsOnly};
    QTest::newRow("empty file") << QByteArray("") << QStringList{"A", "B"}
                                << QStringList{"Device_A" + detectorsOnly, "Device_B" + detectorsOnly};
    QTest::newRow("no file") << QByteArray() << QStringList{"A"} << QStringList{"Device_A" + detectorsOnly};
}

void TestSetupMerge::detectorMerge()
{
    QFETCH(QByteArray, initial);
    QFETCH(QStringList, ids);
    const QString file = path(QStringLiteral("ConnectionSetup.xml"));
    if (!initial.isNull())
        QVERIFY(writeFile(file, initial));

    QList<ConnectionSettings> records;
    for (int i = 0; i < ids.size(); ++i) {
        ConnectionSettings r = record(ids.at(i), QStringLiteral("port%1").arg(i), Serial, 115200);
        r.model[0] = i + 1;
        r.beamDiameter[1] = 10.5 + i;
        r.calculation[1] = 1;
        r.pulsedLaser = true;
        records << r;
    }
    Settings writer;
    writer.setConnections(records);
    QVERIFY(writer.saveDetectorFile(QString())); // the default file
    QTEST(structure(file), "expected");
    QVERIFY(readFile(file).startsWith("<!DOCTYPE SetupML>\n<ORX_Beam_Stabilization>\n"));

    // Whatever the element order, loading gives each record its new values
    // (unless the device had no detector elements to update).
    if (QTest::currentDataTag() == QLatin1String("General without detectors: nothing added"))
        return;
    Settings reader;
    QVERIFY(reader.loadFile(file));
    for (int i = 0; i < ids.size(); ++i) {
        ConnectionSettings probe = record(ids.at(i), QString(), Serial, 0);
        QVERIFY(reader.restoreDetectorSettings(probe));
        COMPARE_FIELDS(describe(probe), (QVariantMap{{"model1", i + 1}, {"beamDiameter2", 10.5 + i},
                                                     {"calculation2", 1}, {"pulsedLaser", true}}));
    }
}

void TestSetupMerge::savingSetupRemovesDetectorOnlyDevices()
{
    const QString file = path(QStringLiteral("setup.xml"));
    QVERIFY(writeFile(file, setupXml(fullA + R"(<Device_X><Detector1/><Detector2/><General/></Device_X>)" + fullB)));
    Settings settings;
    QVERIFY(settings.loadFile(file));
    QCOMPARE(settings.records().size(), 3);

    ConnectionSettings b = record(QStringLiteral("B"), QStringLiteral("ttyB"), Serial, 9600);
    ConnectionSettings a = record(QStringLiteral("A"), QStringLiteral("10.1.1.1"), Tcp, 2000);
    QVERIFY(settings.setConnections({b, a}));
    QVERIFY(settings.saveConnectionFile(file));
    QCOMPARE(structure(file), QStringList({"Device_B: Settings DisplayColors", "Device_A: Settings DisplayColors"}));
    QVERIFY(settings.saveDetectorFile(file));
    QCOMPARE(structure(file), QStringList({"Device_B" + full, "Device_A" + full}));
}

void TestSetupMerge::detectorOnlyRecordsKeepTheirElement()
{
    const QString file = path(QStringLiteral("setup.xml"));
    QVERIFY(writeFile(file, setupXml(R"(<Device_X><Detector1 model="3"/><Detector2/><General/></Device_X>)" + fullA)));
    Settings settings;
    QVERIFY(settings.loadFile(file));
    ConnectionSettings a = record(QStringLiteral("A"), QString(), Serial, 0);
    a.model[0] = 2;
    QVERIFY(settings.storeDetectorSettings(a));
    QVERIFY(settings.saveDetectorFile(file));
    // No element for an empty key appears; the detector-only device stays.
    QCOMPARE(structure(file), QStringList({"Device_X" + detectorsOnly, "Device_A" + full}));
    QCOMPARE(attributes(file, "Device_X", "Detector1").value("model"), QVariant("3"));
    QCOMPARE(attributes(file, "Device_A", "Detector1").value("model"), QVariant("2"));
}

void TestSetupMerge::unwritablePathsFail()
{
    Settings settings;
    settings.setConnections({record(QStringLiteral("A"), QStringLiteral("a"), Serial, 1)});
    const QString inMissingDir = path(QStringLiteral("missing/setup.xml"));
    QVERIFY(!settings.saveConnectionFile(inMissingDir));
    QVERIFY(!settings.saveDetectorFile(inMissingDir));
    QVERIFY(!settings.saveConnectionFile(m_dir->path())); // a directory
    QVERIFY(!settings.loadFile(m_dir->path()));
    QVERIFY(!QFile::exists(inMissingDir));
}

QTEST_GUILESS_MAIN(TestSetupMerge)
#include "tst_setupmerge.moc"
