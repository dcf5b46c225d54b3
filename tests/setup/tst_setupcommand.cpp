#include "SetupCommand.h"
#include "SetupFileFixture.h"

#include <QtTest>

#include <memory>

using namespace setuptest;

// The "setup" command of the command-line tool.
class TestSetupCommand : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void printsEveryDevice();
    void exitCodes_data();
    void exitCodes();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSetupCommand::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    dataDirectory = QDir(m_dir->path());
}

void TestSetupCommand::printsEveryDevice()
{
    ConnectionSettings serial = record(QStringLiteral("ORX-KV-0123456789ABCDEF"), QStringLiteral("/dev/ttyUSB0"), Serial, 921600);
    setFixedText(serial.label, QStringLiteral("Lab_1"));
    serial.autoConnect = true;
    serial.colorX = Qt::red;
    serial.model[0] = 1;
    serial.beamDiameter[0] = 80.5;
    serial.calculation[0] = 1;
    serial.pulsedLaser = true;
    ConnectionSettings tcp = record(QStringLiteral("ORX-2"), QStringLiteral("10.0.0.7"), Tcp, 2000);
    Settings settings;
    settings.setConnections({serial, tcp});
    QVERIFY(settings.saveConnectionFile(QString()));
    QVERIFY(settings.saveDetectorFile(QString()));

    QString output;
    QString errors;
    QTextStream out(&output);
    QTextStream err(&errors);
    QCOMPARE(runSetupCommand({}, out, err), 0); // the default file
    QCOMPARE(errors, QString());
    const QString expected = QStringLiteral(
        "file: %1\n"
        "devices: 2\n"
        "\n"
        "device: 56789ABCDEF\n"
        "  type: serial\n"
        "  name: /dev/ttyUSB0\n"
        "  baudrate: 921600\n"
        "  label: Lab_1\n"
        "  id: ORX-KV-0123456789ABCDEF\n"
        "  autoConnect: 1\n"
        "  colorX: #ff0000\n"
        "  colorY: #000000\n"
        "  colorI: #000000\n"
        "  stage1: model=1 beamDiameter=80.5 calculation=1\n"
        "  stage2: model=0 beamDiameter=50 calculation=0\n"
        "  pulsedLaser: 1\n"
        "\n"
        "device: ORX-2\n"
        "  type: tcp\n"
        "  name: 10.0.0.7\n"
        "  port: 2000\n"
        "  label: \n"
        "  id: ORX-2\n"
        "  autoConnect: 0\n"
        "  colorX: #000000\n"
        "  colorY: #000000\n"
        "  colorI: #000000\n"
        "  stage1: model=0 beamDiameter=50 calculation=0\n"
        "  stage2: model=0 beamDiameter=50 calculation=0\n"
        "  pulsedLaser: 0\n").arg(Settings::defaultFilePath());
    QCOMPARE(output, expected);
}

void TestSetupCommand::exitCodes_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("fileContent"); // written to bad.xml; null: none
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("errorLine");

    QTest::newRow("help") << QStringList{"--help"} << QByteArray() << 0 << false;
    QTest::newRow("missing default file") << QStringList{} << QByteArray() << 3 << true;
    QTest::newRow("unparsable file") << QStringList{"bad.xml"} << QByteArray("<ORX_Beam_Stab") << 3 << true;
    QTest::newRow("empty setup") << QStringList{"bad.xml"} << setupXml("") << 0 << false;
    QTest::newRow("two files") << QStringList{"a.xml", "b.xml"} << QByteArray() << 2 << true;
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << QByteArray() << 2 << true;
}

void TestSetupCommand::exitCodes()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, fileContent);
    QFETCH(bool, errorLine);
    if (!fileContent.isNull())
        QVERIFY(writeFile(m_dir->filePath(QStringLiteral("bad.xml")), fileContent));
    for (QString &arg : args) {
        if (arg.endsWith(QLatin1String(".xml")))
            arg = m_dir->filePath(arg);
    }

    QString output;
    QString errors;
    QTextStream out(&output);
    QTextStream err(&errors);
    QTEST(runSetupCommand(args, out, err), "exitCode");
    err.flush();
    QCOMPARE(!errors.isEmpty(), errorLine);
    if (QTest::currentDataTag() == QLatin1String("help"))
        QVERIFY(output.startsWith(QLatin1String("Usage: beamstab-cli setup [FILE]")));
}

QTEST_GUILESS_MAIN(TestSetupCommand)
#include "tst_setupcommand.moc"
