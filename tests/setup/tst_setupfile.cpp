#include "SetupFileFixture.h"

#include <QRandomGenerator>
#include <QtTest>

#include <memory>

using namespace setuptest;

Q_DECLARE_METATYPE(ConnectionSettings)

// Reading and writing the connection setup file, and the record list.
class TestSetupFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void roundTripReproducesWrittenFields_data();
    void roundTripReproducesWrittenFields();
    void writtenFileFormat();
    void loadingReadsAttributes_data();
    void loadingReadsAttributes();
    void detectorOnlyDeviceIsFoundByKey();
    void storeAndRestoreDetectorSettings();
    void failedLoadsKeepRecordsAndFile_data();
    void failedLoadsKeepRecordsAndFile();
    void oversizedAndControlTextsStayReadable();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSetupFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    dataDirectory = QDir(m_dir->path());
}

void TestSetupFile::roundTripReproducesWrittenFields_data()
{
    QTest::addColumn<ConnectionSettings>("original");
    QTest::addColumn<QString>("key"); // XML names carry no spaces or markup

    ConnectionSettings serial = record(QStringLiteral("ORX-KV-V31-A-0123456789ABCDEFGHIJKLMNOPQRSTUVWX"),
                                       QStringLiteral("/dev/ttyUSB0"), Serial, 921600);
    setFixedText(serial.label, QStringLiteral("Lab_1"));
    serial.autoConnect = true;
    serial.colorX = QColor(255, 0, 0);
    serial.colorY = QColor(0, 128, 0);
    serial.colorI = QColor(0x12, 0xab, 0xef);
    serial.pulsedLaser = true;
    serial.model[0] = 1;
    serial.model[1] = 5;
    serial.beamDiameter[0] = 80.0;
    serial.beamDiameter[1] = 0.1 + 0.2;
    serial.calculation[0] = 1;
    serial.position = 4;
    serial.group = 2;
    serial.commonColorX = Qt::yellow;
    QTest::newRow("serial") << serial << QStringLiteral("123456789AB");

    ConnectionSettings tcp = record(QStringLiteral("ORX-0123456789"), QStringLiteral("192.168.0.20"), Tcp, 2000);
    tcp.beamDiameter[0] = 1e-7;
    tcp.beamDiameter[1] = 123456.789012345;
    tcp.model[1] = 3;
    tcp.calculation[1] = 7;
    QTest::newRow("tcp, invalid colours") << tcp << QStringLiteral("-0123456789");

    ConnectionSettings odd = record(QStringLiteral("ORX <&\"'> id"), QStringLiteral("host name\twith tab"), 9, 115200);
    setFixedText(odd.label, QStringLiteral("a&b<c>\"d'"));
    odd.colorY = Qt::white;
    QTest::newRow("markup in texts, unknown type") << odd << QStringLiteral("RX_______id");
}

void TestSetupFile::roundTripReproducesWrittenFields()
{
    QFETCH(ConnectionSettings, original);
    ConnectionSettings second = record(QStringLiteral("ORX-second"), QStringLiteral("10.0.0.1"), Tcp, 2001);

    Settings writer;
    QVERIFY(writer.setConnections({original, second}));
    QVERIFY(writer.saveConnectionFile(QString()));
    QVERIFY(writer.saveDetectorFile(QString()));
    QVERIFY(QFile::exists(path(QStringLiteral("ConnectionSetup.xml"))));

    Settings reader;
    QVERIFY(reader.loadFile(QString()));
    QCOMPARE(reader.records().size(), 2);

    QVariantMap expected = describe(original);
    expected["position"] = 0; // kept in memory only
    expected["group"] = 0;    // read, never written
    expected["commonColorX"] = expected["commonColorY"] = expected["commonColorI"] = QStringLiteral("invalid");
    for (const char *color : {"colorX", "colorY", "colorI"}) {
        if (expected[color] == QStringLiteral("invalid"))
            expected[color] = QStringLiteral("#000000");
    }
    QFETCH(QString, key);
    expected["key"] = key;
    COMPARE_FIELDS(describe(reader.records().at(0)), expected);
    QCOMPARE(fixedText(reader.records().at(1).id), QStringLiteral("ORX-second"));
    QCOMPARE(reader.records().at(1).portOrBaud, 2001);
}

void TestSetupFile::writtenFileFormat()
{
    ConnectionSettings serial = record(QStringLiteral("ORX-ABCDEFGHIJ"), QStringLiteral("ttyS0"), Serial, 115200);
    serial.colorX = QColor(0xAB, 0xCD, 0xEF);
    serial.beamDiameter[1] = 12.25;
    serial.pulsedLaser = true;
    const ConnectionSettings tcp = record(QStringLiteral("ORX-0000000001"), QStringLiteral("::1"), Tcp, 2000);
    Settings settings;
    settings.setConnections({serial, tcp});
    const QString file = path(QStringLiteral("format.xml"));
    QVERIFY(settings.saveConnectionFile(file));
    QVERIFY(settings.saveDetectorFile(file));

    const QString text = QString::fromLatin1(readFile(file));
    QVERIFY2(text.startsWith(QLatin1String("<!DOCTYPE SetupML>\n<ORX_Beam_Stabilization>\n <Device_-ABCDEFGHIJ>\n  <Settings ")),
             qPrintable(text));
    QVERIFY(!text.contains(QLatin1String("<?xml")));
    QVERIFY(text.contains(QLatin1String("\n </Device_-ABCDEFGHIJ>\n")));
    QVERIFY(text.endsWith(QLatin1String("</ORX_Beam_Stabilization>\n")));
    QCOMPARE(structure(file), QStringList({"Device_-ABCDEFGHIJ: Settings DisplayColors Detector1 Detector2 General",
                                           "Device_-0000000001: Settings DisplayColors Detector1 Detector2 General"}));

    const QString device = QStringLiteral("Device_-ABCDEFGHIJ");
    QCOMPARE(attributes(file, device, "Settings"),
             QVariantMap({{"name", "ttyS0"}, {"type", "0"}, {"label", ""}, {"id", "ORX-ABCDEFGHIJ"},
                          {"autoConnect", "0"}, {"baudrate", "115200"}}));
    QCOMPARE(attributes(file, device, "DisplayColors"),
             QVariantMap({{"colorX", "#abcdef"}, {"colorY", "#000000"}, {"colorI", "#000000"}}));
    QCOMPARE(attributes(file, device, "Detector1"),
             QVariantMap({{"beamDiameter", "50"}, {"model", "0"}, {"calculation", "0"}}));
    QCOMPARE(attributes(file, device, "Detector2").value("beamDiameter"), QVariant("12.25"));
    QCOMPARE(attributes(file, device, "General"), QVariantMap({{"pulsedLaser", "1"}}));

    const QVariantMap tcpSettings = attributes(file, "Device_-0000000001", "Settings");
    QCOMPARE(tcpSettings.value("port"), QVariant("2000"));
    QVERIFY(!tcpSettings.contains("baudrate"));
    QCOMPARE(tcpSettings.value("type"), QVariant("1"));
}

void TestSetupFile::loadingReadsAttributes_data()
{
    QTest::addColumn<QByteArray>("device");
    QTest::addColumn<QVariantMap>("expected");

    QTest::newRow("tcp reads port") << QByteArray(R"(<Device_K><Settings type="1" port="2000" baudrate="9600" name="10.0.0.2" id="ORX-1" autoConnect="1"/></Device_K>)")
                                    << QVariantMap{{"type", 1}, {"portOrBaud", 2000}, {"name", "10.0.0.2"}, {"id", "ORX-1"}, {"autoConnect", true}, {"key", ""}};
    QTest::newRow("serial reads baudrate") << QByteArray(R"(<Device_K><Settings type="0" port="2000" baudrate="921600"/></Device_K>)")
                                           << QVariantMap{{"type", 0}, {"portOrBaud", 921600}};
    QTest::newRow("unknown type is serial") << QByteArray(R"(<Device_K><Settings type="7" port="1" baudrate="115200"/></Device_K>)")
                                            << QVariantMap{{"type", 7}, {"portOrBaud", 115200}};
    QTest::newRow("type not a number") << QByteArray(R"(<Device_K><Settings type="tcp" port="5" baudrate="9600" autoConnect="2"/></Device_K>)")
                                       << QVariantMap{{"type", 0}, {"portOrBaud", 9600}, {"autoConnect", true}};
    QTest::newRow("group 3") << QByteArray(R"(<Device_K><Settings group="3"/></Device_K>)") << QVariantMap{{"group", 3}};
    QTest::newRow("group false") << QByteArray(R"(<Device_K><Settings group="false"/></Device_K>)") << QVariantMap{{"group", 0}};
    QTest::newRow("group missing") << QByteArray(R"(<Device_K><Settings autoConnect="0"/></Device_K>)")
                                   << QVariantMap{{"group", 0}, {"autoConnect", false}, {"portOrBaud", 0}};
    QTest::newRow("no Detector1 keeps defaults") << QByteArray(R"(<Device_K><Detector2 beamDiameter="65" model="3" calculation="1"/></Device_K>)")
                                                 << QVariantMap{{"beamDiameter1", 50.0}, {"model1", 0}, {"beamDiameter2", 65.0}, {"model2", 3}, {"calculation2", 1}};
    QTest::newRow("empty beamDiameter is 0") << QByteArray(R"(<Device_K><Detector1 beamDiameter="" model="1"/></Device_K>)")
                                             << QVariantMap{{"beamDiameter1", 0.0}, {"model1", 1}, {"calculation1", 0}};
    QTest::newRow("non-finite beamDiameter is 0") << QByteArray(R"(<Device_K><Detector1 beamDiameter="inf"/><Detector2 beamDiameter="nan"/></Device_K>)")
                                                  << QVariantMap{{"beamDiameter1", 0.0}, {"beamDiameter2", 0.0}};
    QTest::newRow("colour names") << QByteArray(R"(<Device_K><DisplayColors colorX="red" colorY="#ABC" colorI="bogus"/></Device_K>)")
                                  << QVariantMap{{"colorX", "#ff0000"}, {"colorY", "#aabbcc"}, {"colorI", "invalid"}};
    QTest::newRow("subsystem and common colours") << QByteArray(R"(<Device_K><SubsystemColors colorX="#010203" colorY="blue"/><CommonColors colorX="#00ff00" colorI="black"/></Device_K>)")
                                                  << QVariantMap{{"colorX", "#010203"}, {"colorY", "#0000ff"}, {"colorI", "invalid"},
                                                                 {"commonColorX", "#00ff00"}, {"commonColorY", "invalid"}, {"commonColorI", "#000000"}};
    QTest::newRow("General gives key and flag") << QByteArray(R"(<Device_0123456789A><General pulsedLaser="1"/><Unknown/></Device_0123456789A>)")
                                                << QVariantMap{{"key", "0123456789A"}, {"pulsedLaser", true}, {"id", ""}};
    QTest::newRow("any element name, long key cut") << QByteArray(R"(<Controller_0123456789ABCDEF><General pulsedLaser="0"/></Controller_0123456789ABCDEF>)")
                                                    << QVariantMap{{"key", "ler_0123456"}, {"pulsedLaser", false}};
    QTest::newRow("later element wins") << QByteArray(R"(<Device_K><Detector1 model="1"/><Detector1 model="4"/></Device_K>)")
                                        << QVariantMap{{"model1", 4}};
}

void TestSetupFile::loadingReadsAttributes()
{
    QFETCH(QByteArray, device);
    QFETCH(QVariantMap, expected);
    const QString file = path(QStringLiteral("load.xml"));
    QVERIFY(writeFile(file, setupXml(device)));

    Settings settings;
    QVERIFY(settings.loadFile(file));
    QCOMPARE(settings.records().size(), 1);
    COMPARE_FIELDS(describe(settings.records().at(0)), expected);
}

void TestSetupFile::detectorOnlyDeviceIsFoundByKey()
{
    const QString file = path(QStringLiteral("detectoronly.xml"));
    QVERIFY(writeFile(file, setupXml(R"(<Device_GHIJKLMNOPQ><Settings id="ORX-KV-V31-A-GHIJKLMNOPQ" name="a"/><General pulsedLaser="0"/></Device_GHIJKLMNOPQ>
<Device_789ABCDEFXY><Detector1 beamDiameter="80" model="1" calculation="1"/><Detector2 beamDiameter="2.5" model="2" calculation="0"/><General pulsedLaser="1"/></Device_789ABCDEFXY>
)")));
    Settings settings;
    QVERIFY(settings.loadFile(file));
    QCOMPARE(settings.records().size(), 2);
    QList<ConnectionSettings> connected;
    connected.append(ConnectionSettings());
    QVERIFY(settings.connections(connected));
    QCOMPARE(connected.size(), 1); // the detector-only device has no ID
    QCOMPARE(fixedText(connected.at(0).id), QStringLiteral("ORX-KV-V31-A-GHIJKLMNOPQ"));

    ConnectionSettings newcomer = record(QStringLiteral("ORX-01-0123456789ABCDEFXYZ"), QStringLiteral("ttyUSB3"), Serial, 115200);
    QCOMPARE(deviceKey(fixedText(newcomer.id)), QStringLiteral("789ABCDEFXY"));
    QVERIFY(settings.restoreDetectorSettings(newcomer));
    COMPARE_FIELDS(describe(newcomer), (QVariantMap{{"model1", 1}, {"beamDiameter1", 80.0}, {"calculation1", 1},
                                                    {"model2", 2}, {"beamDiameter2", 2.5}, {"pulsedLaser", true},
                                                    {"key", "789ABCDEFXY"}, {"name", "ttyUSB3"}, {"portOrBaud", 115200}}));

    ConnectionSettings stranger = record(QStringLiteral("ORX-unknown"), QStringLiteral("x"), Serial, 1);
    const QVariantMap before = describe(stranger);
    QVERIFY(!settings.restoreDetectorSettings(stranger));
    QCOMPARE(describe(stranger), before);

    QVERIFY(!settings.setConnections({}));
    QVERIFY(!settings.connections(connected));
    QVERIFY(connected.isEmpty());
}

void TestSetupFile::storeAndRestoreDetectorSettings()
{
    Settings settings;
    ConnectionSettings first = record(QStringLiteral("ORX-0000000001"), QStringLiteral("ttyUSB0"), Serial, 115200);
    ConnectionSettings second = record(QStringLiteral("ORX-0000000002"), QStringLiteral("ttyUSB1"), Serial, 115200);
    QVERIFY(!settings.storeDetectorSettings(first)); // new: appended with key and position
    QVERIFY(!settings.storeDetectorSettings(second));
    COMPARE_FIELDS(describe(second), (QVariantMap{{"key", "-0000000002"}, {"position", 1}}));
    QCOMPARE(settings.records().size(), 2);

    ConnectionSettings update = record(QStringLiteral("ORX-0000000001"), QStringLiteral("elsewhere"), Tcp, 2000);
    update.model[1] = 4;
    update.beamDiameter[1] = 7.5;
    update.pulsedLaser = true;
    QVERIFY(settings.storeDetectorSettings(update));
    QCOMPARE(settings.records().size(), 2);
    COMPARE_FIELDS(describe(settings.records().at(0)), (QVariantMap{{"model2", 4}, {"beamDiameter2", 7.5},
                                                                    {"pulsedLaser", true}, {"name", "ttyUSB0"}}));

    ConnectionSettings restored = record(QStringLiteral("ORX-0000000001"), QStringLiteral("ttyUSB9"), Serial, 9600);
    QVERIFY(settings.restoreDetectorSettings(restored));
    COMPARE_FIELDS(describe(restored), (QVariantMap{{"model2", 4}, {"beamDiameter2", 7.5}, {"pulsedLaser", true},
                                                    {"key", "-0000000001"}, {"name", "ttyUSB9"}}));
}

void TestSetupFile::failedLoadsKeepRecordsAndFile_data()
{
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("wrong root") << QByteArray(R"(<!DOCTYPE SetupML><Other><Device_A><Settings id="Z"/></Device_A></Other>)");
    const QByteArray good = setupXml(R"(<Device_K><Settings id="ORX-x" name="y"/><General pulsedLaser="1"/></Device_K>)");
    QTest::newRow("truncated") << good.left(good.size() / 2);
    QTest::newRow("text only") << QByteArray("just some text\n");
    QTest::newRow("whitespace only") << QByteArray("  \n\n");
    QByteArray garbage(4096, '\0');
    QRandomGenerator random(12345);
    for (char &c : garbage)
        c = static_cast<char>(random.bounded(256));
    QTest::newRow("binary garbage") << garbage;
    QTest::newRow("deep nesting") << setupXml(QByteArray("<a>").repeated(100000));
    QTest::newRow("huge") << setupXml("<!--" + QByteArray(2 * 1024 * 1024, 'x') + "-->");
    QTest::newRow("entity expansion") << QByteArray(
        "<!DOCTYPE SetupML [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
        "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
        "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">]>"
        "<ORX_Beam_Stabilization><Device_K><Settings id=\"&e;&e;&e;&e;&e;&e;&e;&e;\"/></Device_K></ORX_Beam_Stabilization>");
    QTest::newRow("two roots") << good + good;
}

void TestSetupFile::failedLoadsKeepRecordsAndFile()
{
    QFETCH(QByteArray, content);
    const QString goodFile = path(QStringLiteral("good.xml"));
    QVERIFY(writeFile(goodFile, setupXml(R"(<Device_A><Settings id="ORX-A" name="ttyA"/></Device_A><Device_B><Settings id="ORX-B"/></Device_B>)")));
    Settings settings;
    QVERIFY(settings.loadFile(goodFile));
    const QVariantMap first = describe(settings.records().at(0));

    const QString hostile = path(QStringLiteral("hostile.xml"));
    QVERIFY(writeFile(hostile, content));
    QVERIFY(!settings.loadFile(hostile));
    QCOMPARE(settings.records().size(), 2);
    QCOMPARE(describe(settings.records().at(0)), first);

    // Merging into such a file would lose it: refused, file untouched.
    QVERIFY(!settings.saveDetectorFile(hostile));
    QCOMPARE(readFile(hostile), content);

    QVERIFY(!settings.loadFile(path(QStringLiteral("missing.xml"))));
    QCOMPARE(settings.records().size(), 2);
    QVERIFY(!QFile::exists(path(QStringLiteral("missing.xml"))));
}

void TestSetupFile::oversizedAndControlTextsStayReadable()
{
    const QByteArray longText(10000, 'L');
    const QByteArray longKey(1000, 'K');
    const QString file = path(QStringLiteral("long.xml"));
    QVERIFY(writeFile(file, setupXml("<Device_" + longKey + "><Settings label=\"" + longText + "\" name=\"" + longText
                                     + "\" id=\"" + longText + "\"/><General/></Device_" + longKey + ">")));
    Settings settings;
    QVERIFY(settings.loadFile(file));
    const ConnectionSettings &loaded = settings.records().at(0);
    COMPARE_FIELDS(describe(loaded), (QVariantMap{{"label", QString(63, 'L')}, {"name", QString(63, 'L')},
                                                  {"id", QString(63, 'L')}, {"key", QString(11, 'K')}}));

    // Texts XML cannot carry and a key that is no XML name still give a
    // file that loads again.
    ConnectionSettings odd = record(QStringLiteral("ORX id with spaces:\x01"), QStringLiteral("a\x02z"), Serial, 5);
    setFixedText(odd.label, QStringLiteral("bell\x07"));
    QVERIFY(settings.setConnections({loaded, odd}));
    const QString out = path(QStringLiteral("out.xml"));
    QVERIFY(settings.saveConnectionFile(out));
    QVERIFY(settings.saveDetectorFile(out));
    Settings reader;
    QVERIFY(reader.loadFile(out));
    QCOMPARE(reader.records().size(), 2);
    COMPARE_FIELDS(describe(reader.records().at(1)), (QVariantMap{{"name", "a?z"}, {"label", "bell?"},
                                                                  {"id", "ORX id with spaces:?"}, {"key", "th_spaces__"},
                                                                  {"portOrBaud", 5}}));
}

QTEST_GUILESS_MAIN(TestSetupFile)
#include "tst_setupfile.moc"
