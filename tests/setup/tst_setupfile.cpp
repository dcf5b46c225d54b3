#include "SetupCommand.h"
#include "SetupTestUtil.h"
#include "app/StartupFlags.h"
#include "setup/Settings.h"

#include <QDomDocument>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <memory>
#include <tuple>

namespace {

// "Device_A: Settings DisplayColors ..." for each device element, in order.
QStringList structure(const QString &path)
{
    QDomDocument document;
    document.setContent(readFile(path)); // nothing when it does not parse
    QStringList result;
    for (QDomElement d = document.documentElement().firstChildElement(); !d.isNull(); d = d.nextSiblingElement()) {
        result << d.tagName() + ':';
        for (QDomElement c = d.firstChildElement(); !c.isNull(); c = c.nextSiblingElement())
            result.last() += ' ' + c.tagName();
    }
    return result;
}

} // namespace

// Connection records, reading, writing and merging the setup file, and the
// "setup" command of the command-line tool.
class TestSetupFile : public QObject
{
    Q_OBJECT

    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void init(); void roundTripAndFormat();
    void loading_data(); void loading(); void detectorOnlyDevices(); void hostileFiles_data();
    void hostileFiles(); void nestingLimit_data(); void nestingLimit(); void detectorMerge_data();
    void detectorMerge(); void setupCommand_data(); void setupCommand();
};

void TestSetupFile::init()
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8")); // a multi-byte local encoding
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    dataDirectory = QDir(m_dir->path());
}

void TestSetupFile::roundTripAndFormat()
{
    ConnectionSettings serial = record("ORX-KV-V31-A-0123456789ABCDEFGHIJKLMNOPQRSTUVWX", "/dev/ttyUSB0", Serial, 921600);
    serial.label = QStringLiteral("Lab_1");
    serial.autoConnect = serial.pulsedLaser = true;
    std::tie(serial.colorX, serial.colorI, serial.commonColorX) = std::make_tuple(QColor(255, 0, 0), QColor(0x12, 0xAB, 0xEF), QColor(Qt::yellow));
    std::tie(serial.model[0], serial.model[1], serial.calculation[0], serial.beamDiameter[1]) = std::make_tuple(1, 5, 1, 0.1 + 0.2);
    std::tie(serial.position, serial.group) = std::make_tuple(4, 2); // kept in memory only; read, never written
    // Markup, control characters, a key that is no XML name, invalid colours.
    ConnectionSettings tcp = record("ORX <&\"'> id", "host name\twith\x02tab", Tcp, 2000);
    tcp.label = QStringLiteral("a&b<c>\"d'\x07");
    std::tie(tcp.colorY, tcp.beamDiameter[0], tcp.beamDiameter[1], tcp.calculation[1]) = std::make_tuple(QColor(Qt::white), 1e-7, 123456.789012345, 7);
    Settings writer;
    QVERIFY(writer.setConnections({serial, tcp}));
    QVERIFY(writer.saveConnectionFile());
    QVERIFY(writer.saveDetectorFile());

    const QString text = QString::fromUtf8(readFile(path(QStringLiteral("ConnectionSetup.xml"))));
    QVERIFY2(text.startsWith("<!DOCTYPE SetupML>\n<ORX_Beam_Stabilization>\n <Device_123456789AB>\n  <Settings "), qPrintable(text));
    QVERIFY(text.contains("\n </Device_123456789AB>\n"));
    QVERIFY(text.endsWith("</ORX_Beam_Stabilization>\n"));
    QVERIFY(!text.contains("<?xml"));
    QCOMPARE(structure(Settings::defaultFilePath()), QStringList({"Device_123456789AB: Settings DisplayColors Detector1 Detector2 General",
                                                                  "Device_RX_______id: Settings DisplayColors Detector1 Detector2 General"}));
    for (const char *attribute : {"colorI=\"#12abef\"", "beamDiameter=\"50\"", "<General pulsedLaser=\"1\"/>", "baudrate=\"921600\"", "port=\"2000\""})
        QVERIFY2(text.contains(attribute), attribute);
    QCOMPARE(text.count("baudrate="), 1); // a TCP device has a port only
    QCOMPARE(text.count("group="), 0);

    Settings reader;
    QVERIFY(reader.loadFile());
    QVERIFY(reader.records().size() == 2);
    const QStringList changes{"key=123456789AB;colorY=#000000;commonColorX=invalid",
                              "key=RX_______id;colorX=#000000;colorI=#000000;name=host name\twith?tab;label=a&b<c>\"d'?"};
    for (int i = 0; i < 2; ++i) {
        QVariantMap expected = fieldMap(writer.records().at(i));
        for (const QString &change : (changes.at(i) + ";position=0;group=0").split(';'))
            expected[change.section('=', 0, 0)] = change.section('=', 1);
        QStringList all;
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            all << it.key() + '=' + it.value().toString();
        CHECK_FIELDS(reader.records().at(i), all.join(';'));
    }
}

void TestSetupFile::loading_data()
{
    QTest::addColumn<QByteArray>("children"); // of the element Device_0123456789ABCDEF
    QTest::addColumn<QString>("expected");

    QTest::newRow("tcp reads port") << QByteArray(R"(<Settings type="1" port="2000" baudrate="9600" name="10.0.0.2" id="ORX-1" autoConnect="1"/>)")
                                    << "type=1;portOrBaud=2000;name=10.0.0.2;id=ORX-1;autoConnect=true;key=";
    QTest::newRow("other type reads baudrate") << QByteArray(R"(<Settings type="tcp" port="5" baudrate="9600" autoConnect="2"/>)")
                                               << "type=0;portOrBaud=9600;autoConnect=true";
    QTest::newRow("group") << QByteArray(R"(<Settings group="3"/>)") << "group=3";
    QTest::newRow("no Detector1 keeps defaults") << QByteArray(R"(<Detector2 beamDiameter="65" model="3" calculation="1"/>)")
                                                 << "beamDiameter1=50;model1=0;beamDiameter2=65;model2=3;calculation2=1";
    QTest::newRow("empty or non-finite beamDiameter is 0") << QByteArray(R"(<Detector1 beamDiameter="" model="1"/><Detector2 beamDiameter="inf"/>)")
                                                           << "beamDiameter1=0;model1=1;beamDiameter2=0";
    QTest::newRow("colour names") << QByteArray(R"(<DisplayColors colorX="red" colorY="#ABC" colorI="bogus"/>)")
                                  << "colorX=#ff0000;colorY=#aabbcc;colorI=invalid";
    QTest::newRow("subsystem and common colours") << QByteArray(R"(<SubsystemColors colorX="#010203"/><CommonColors colorX="#00ff00" colorI="black"/>)")
                                                  << "colorX=#010203;commonColorX=#00ff00;commonColorY=invalid;commonColorI=#000000";
    QTest::newRow("General gives key and flag") << QByteArray(R"(<General pulsedLaser="1"/><Unknown/>)") << "key=0123456789A;pulsedLaser=true;id=";
    const QByteArray longText(10000, 'L');
    QTest::newRow("long texts kept whole") << "<Settings label=\"" + longText + "\" id=\"" + longText + "\"/>"
                                           << "label=" + QString(longText) + ";id=" + QString(longText);
}

void TestSetupFile::loading()
{
    QFETCH(QByteArray, children);
    QVERIFY(writeFile(Settings::defaultFilePath(), setupXml("<Device_0123456789ABCDEF>" + children + "</Device_0123456789ABCDEF>")));
    Settings settings;
    QVERIFY(settings.loadFile());
    QVERIFY(settings.records().size() == 1);
    QFETCH(QString, expected);
    CHECK_FIELDS(settings.records().at(0), expected);
}

void TestSetupFile::detectorOnlyDevices()
{
    const QString file = Settings::defaultFilePath();
    QVERIFY(writeFile(file, setupXml(R"(
<Device_789ABCDEFXY><Detector1 beamDiameter="80" model="1" calculation="1"/><Detector2 beamDiameter="2.5" model="2"/><General pulsedLaser="1"/></Device_789ABCDEFXY>
<Device_A><Settings id="A"/><DisplayColors/><Detector1/><Detector2/><General/></Device_A><Device_B><Settings id="B"/></Device_B>)")));
    Settings settings;
    QVERIFY(settings.loadFile());
    QList<ConnectionSettings> connected{ConnectionSettings()};
    QVERIFY(settings.connections(connected));
    QVERIFY(connected.size() == 2); // the detector-only device has no ID
    CHECK_FIELDS(connected.at(0), "id=A");

    ConnectionSettings newcomer = record("ORX-01-0123456789ABCDEFXY", "ttyUSB3");
    QVERIFY(settings.restoreDetectorSettings(newcomer));
    CHECK_FIELDS(newcomer, "model1=1;beamDiameter1=80;calculation1=1;model2=2;beamDiameter2=2.5;pulsedLaser=true;key=789ABCDEFXY;name=ttyUSB3");
    ConnectionSettings stranger = record("ORX-0123456789abcdef", "x");
    QVERIFY(!settings.restoreDetectorSettings(stranger));
    QCOMPARE(fieldMap(stranger), fieldMap(record("ORX-0123456789abcdef", "x")));

    // Merging keeps the detector-only element, and no "Device_" appears.
    QVERIFY(settings.saveDetectorFile());
    QCOMPARE(structure(file), QStringList({"Device_789ABCDEFXY: Detector1 Detector2 General",
                                           "Device_A: Settings DisplayColors Detector1 Detector2 General",
                                           "Device_B: Settings Detector1 Detector2 General"}));

    // Storing updates the record with the same key (keeping its connection
    // fields) or appends a new one with key and position.
    newcomer.model[1] = 4;
    QVERIFY(settings.storeDetectorSettings(newcomer));
    CHECK_FIELDS(settings.records().at(0), "model2=4;id=ORX-01-0123456789ABCDEFXY;name=;key=789ABCDEFXY");
    QVERIFY(!settings.storeDetectorSettings(stranger));
    CHECK_FIELDS(stranger, "key=56789abcdef;position=3");

    // A saved setup holds the given devices only.
    QVERIFY(settings.setConnections({record("B", "ttyB", Serial, 9600), record("A", "10.1.1.1", Tcp, 2000)}));
    QVERIFY(settings.saveConnectionFile());
    QCOMPARE(structure(file), QStringList({"Device_B: Settings DisplayColors", "Device_A: Settings DisplayColors"}));
    QVERIFY(!settings.setConnections({}));
    QVERIFY(!settings.connections(connected));
    QVERIFY(connected.isEmpty());
}

void TestSetupFile::hostileFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("wrong root") << QByteArray(R"(<!DOCTYPE SetupML><Other><Device_A><Settings id="Z"/></Device_A></Other>)");
    const QByteArray good = setupXml(R"(<Device_K><Settings id="ORX-x" name="y"/><General pulsedLaser="1"/></Device_K>)");
    QTest::newRow("truncated") << good.left(good.size() / 2);
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += char(i * 7919 % 251);
    QTest::newRow("binary garbage") << garbage;
    QTest::newRow("deep nesting") << setupXml(QByteArray("<a>").repeated(100000));
    QTest::newRow("very long attribute") << setupXml(R"(<Device_K><Settings label=")" + QByteArray(2 << 20, 'x') + R"("/></Device_K>)");
}

void TestSetupFile::hostileFiles()
{
    QFETCH(QByteArray, content);
    QVERIFY(writeFile(path(QStringLiteral("good.xml")), setupXml(R"(<Device_A><Settings id="ORX-A"/></Device_A><Device_B/>)")));
    Settings settings;
    QVERIFY(settings.loadFile(path(QStringLiteral("good.xml"))));
    const QString hostile = path(QStringLiteral("hostile.xml"));
    QVERIFY(writeFile(hostile, content));
    QVERIFY(!settings.loadFile(hostile));
    QVERIFY(settings.records().size() == 2);
    CHECK_FIELDS(settings.records().at(0), "id=ORX-A");

    // Merging into such a file would lose it: refused, file untouched.
    QVERIFY(!settings.saveDetectorFile(hostile));
    QCOMPARE(readFile(hostile), content);
    QVERIFY(!settings.loadFile(path(QStringLiteral("missing.xml"))));
    QVERIFY(!QFile::exists(path(QStringLiteral("missing.xml"))));
    QVERIFY(!settings.saveConnectionFile(path(QStringLiteral("missing/setup.xml"))));
}

void TestSetupFile::nestingLimit_data()
{
    QTest::addColumn<QByteArray>("devices");
    QTest::addColumn<int>("records"); // -1: refused

    // Many shallow elements: the depth goes down again at every end tag.
    QByteArray many;
    for (int i = 0; i < 40; ++i)
        many += QStringLiteral(R"(<Device_%1><Settings id="ORX-%1"/><DisplayColors/><Detector1/><Detector2/><General/></Device_%1>)")
                    .arg(i).toLatin1();
    QTest::newRow("40 devices, 240 elements") << many << 40;
    // The root is level 1: 31 more levels reach the limit of 32, 32 more pass it.
    QTest::newRow("nested up to the limit") << "<Device_D>" + QByteArray("<a>").repeated(30) + QByteArray("</a>").repeated(30) + "</Device_D>" << 1;
    QTest::newRow("nested one past the limit") << "<Device_D>" + QByteArray("<a>").repeated(31) + QByteArray("</a>").repeated(31) + "</Device_D>" << -1;
    // Names the document reader takes as plain names, colon included.
    QByteArray colons(R"(<Device_SN:12345678><Settings id="ORX-SN:12345678"/><General/></Device_SN:12345678>)");
    for (int i = 0; i < 30; ++i)
        colons += QStringLiteral(R"(<Device_B:%1><Settings id="B%1"/><General/></Device_B:%1>)").arg(i).toLatin1();
    QTest::newRow("colon in device names") << colons << 31;
    QTest::newRow("undeclared prefix, deep") << "<x:Device_D>" + QByteArray("<y:a>").repeated(40) + QByteArray("</y:a>").repeated(40) + "</x:Device_D>" << -1;
}

void TestSetupFile::nestingLimit()
{
    QFETCH(QByteArray, devices);
    QFETCH(int, records);
    const QString file = path(QStringLiteral("setup.xml"));
    QVERIFY(writeFile(file, setupXml(devices)));
    Settings settings;
    QCOMPARE(settings.loadFile(file), records >= 0);
    QCOMPARE(int(settings.records().size()), qMax(records, 0));
    if (QTest::currentDataTag() == QLatin1String("colon in device names"))
        CHECK_FIELDS(settings.records().at(0), "id=ORX-SN:12345678;key=SN:12345678");
}

void TestSetupFile::detectorMerge_data()
{
    QTest::addColumn<QByteArray>("initial"); // null: no file
    QTest::addColumn<QStringList>("ids");     // records merged, in list order
    QTest::addColumn<QStringList>("expected");

    const QByteArray fullB = R"(<Device_B><Settings id="B"/><DisplayColors/><Detector1 model="5"/><Detector2/><General pulsedLaser="0"/></Device_B>)";
    const QString full = QStringLiteral(": Settings DisplayColors Detector1 Detector2 General");
    const QString detectors = QStringLiteral(": Detector1 Detector2 General");
    QTest::newRow("with General: updated in place") << setupXml(fullB + R"(<Device_C><Settings id="C"/></Device_C>)") << QStringList{"B"}
                                                   << QStringList{"Device_B" + full, "Device_C: Settings"};
    QTest::newRow("without General: completed and moved to the end")
        << setupXml(R"(<Device_A><Settings id="A"/><Detector1 model="4"/></Device_A>)" + fullB) << QStringList{"A"}
        << QStringList{"Device_B" + full, "Device_A: Settings Detector1 Detector1 Detector2 General"};
    QTest::newRow("several in list order, new appended")
        << setupXml(R"(<Device_A><Settings id="A"/></Device_A>)" + fullB + "<!-- kept -->") << QStringList{"B", "C", "A"}
        << QStringList{"Device_B" + full, "Device_C" + detectors, "Device_A: Settings Detector1 Detector2 General"};
    QTest::newRow("no file") << QByteArray() << QStringList{"A"} << QStringList{"Device_A" + detectors};
}

void TestSetupFile::detectorMerge()
{
    QFETCH(QByteArray, initial);
    QFETCH(QStringList, ids);
    const QString file = path(QStringLiteral("ConnectionSetup.xml"));
    QVERIFY(initial.isNull() || writeFile(file, initial));
    QList<ConnectionSettings> records;
    for (int i = 0; i < ids.size(); ++i) {
        records << record(ids.at(i), QStringLiteral("port%1").arg(i));
        records.last().model[0] = i + 1;
        records.last().beamDiameter[1] = 10.5 + i;
        records.last().pulsedLaser = true;
    }
    Settings writer;
    QVERIFY(writer.setConnections(records));
    QVERIFY(writer.saveDetectorFile()); // the default file
    QTEST(structure(file), "expected");

    // Whatever the element order, loading gives each record its new values.
    Settings reader;
    QVERIFY(reader.loadFile());
    for (int i = 0; i < ids.size(); ++i) {
        ConnectionSettings probe = record(ids.at(i));
        QVERIFY(reader.restoreDetectorSettings(probe));
        CHECK_FIELDS(probe, QStringLiteral("model1=%1;beamDiameter2=%2;pulsedLaser=true").arg(i + 1).arg(10.5 + i));
    }
}

void TestSetupFile::setupCommand_data()
{
    QTest::addColumn<bool>("readOnly"); // the default file without write permission
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("file"); // written as the default file; null: none
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // <file> stands for the default file; "...": the rest is not judged

    const auto row = [](const char *tag, bool readOnly = false) -> QTestData & { return QTest::newRow(tag) << readOnly; };
    row("help") << QStringList{"--help"} << QByteArray() << 0 << "Usage: beamstab-cli setup [FILE]\n...";
    row("missing default file") << QStringList{} << QByteArray() << 3 << "";
    row("unparsable file") << QStringList{} << QByteArray("<ORX_Beam_Stab") << 3 << "";
    row("two files") << QStringList{"a.xml", "b.xml"} << QByteArray() << 2 << "";
    row("read-only file", true) << QStringList{} << setupXml(R"(<Device_K><Settings id="ORX-K" name="ttyUSB1"/></Device_K>)") << 0
                                << "file: <file>\ndevices: 1\n\ndevice: ORX-K\n  type: serial\n  name: ttyUSB1\n...";
    row("empty setup") << QStringList{} << setupXml("") << 0 << "file: <file>\ndevices: 0\n";
    row("two devices") << QStringList{} << setupXml(R"(
<Device_56789ABCDEF><Settings name="/dev/ttyUSB0" type="0" baudrate="921600" port="1" label="Lab_1" id="ORX-KV-0123456789ABCDEF" autoConnect="1"/>
<DisplayColors colorX="#FF0000" colorY="#000000"/><Detector1 model="1" beamDiameter="80.5" calculation="1"/><General pulsedLaser="1"/></Device_56789ABCDEF>
<Device_x><Settings name="10.0.0.7" type="1" port="2000" id="ORX-2"/></Device_x>)") << 0
                                 << "file: <file>\ndevices: 2\n\n"
                                    "device: 56789ABCDEF\n  type: serial\n  name: /dev/ttyUSB0\n  baudrate: 921600\n  label: Lab_1\n"
                                    "  id: ORX-KV-0123456789ABCDEF\n  autoConnect: 1\n  colorX: #ff0000\n  colorY: #000000\n  colorI: none\n"
                                    "  stage1: model=1 beamDiameter=80.5 calculation=1\n  stage2: model=0 beamDiameter=50 calculation=0\n"
                                    "  pulsedLaser: 1\n\ndevice: ORX-2\n  type: tcp\n  name: 10.0.0.7\n  port: 2000\n  label: \n...";
}

void TestSetupFile::setupCommand()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, file);
    QFETCH(QString, output);
    QFETCH(int, exitCode);
    QFETCH(bool, readOnly);
    QVERIFY(file.isNull() || writeFile(Settings::defaultFilePath(), file));
    if (readOnly) {
        QVERIFY(QFile::setPermissions(Settings::defaultFilePath(), QFile::ReadOwner | QFile::ReadUser));
        if (QFile(Settings::defaultFilePath()).open(QIODevice::ReadWrite))
            QSKIP("file permissions do not bind this user (root)");
    }
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    QCOMPARE(runSetupCommand(args, outStream, errStream), exitCode);
    QCOMPARE(err.isEmpty(), exitCode == 0); // failures explain themselves on stderr only
    output.replace(QLatin1String("<file>"), Settings::defaultFilePath());
    if (output.endsWith("..."))
        output.chop(3), out.truncate(output.size());
    QCOMPARE(out, output);
}

QTEST_GUILESS_MAIN(TestSetupFile)
#include "tst_setupfile.moc"
