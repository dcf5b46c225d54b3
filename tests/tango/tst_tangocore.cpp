// The device server's Tango-free parts: the stream statistics behind the
// attributes and events, and the reading of the device properties.

#include "DeviceProperties.h"
#include "StreamStatistics.h"

#include "detectors/StageDetectors.h"

#include <QtTest>

#include <cmath>

namespace {

StreamSample sample(int x1, int y1, int x2, int y2, int intensity = 4000)
{
    StreamSample s;
    s.x1 = int16_t(x1), s.y1 = int16_t(y1), s.x2 = int16_t(x2), s.y2 = int16_t(y2), s.rangeX1 = 5000;
    s.intensity1 = s.intensity2 = uint16_t(intensity);
    return s;
}

} // namespace

class TangoCoreTest : public QObject
{
    Q_OBJECT

private slots:
    // Period means, their reset, units and the conversion per detector model.
    void periodMeansAreConvertedAndRestart()
    {
        StreamStatistics stats(10, 10);
        // Stage 1: PSD in millimetres (signal / 1.2); stage 2: volts.
        stats.setDetectors(StageDetectors(2, 50.0, 1, 2, 50.0, 0, false));
        QCOMPARE(stats.unit(0) + stats.unit(1), QString("mmV"));
        stats.add(sample(1200, -2400, 100, 300));
        stats.add(sample(3600, 0, 300, 500));
        const PeriodMeans m = stats.takePeriod();
        // x1 (1 + 3) / 2 mm, y1, then x2 and y2 in volts.
        QCOMPARE((std::vector<double>{double(m.samples), m.x[0], m.y[0], m.x[1], m.y[1], m.intensity[0], m.rangeX[0]}),
                 (std::vector<double>{2, 2.0, -1.0, 0.2, 0.4, 4.0, 5.0}));
        const PeriodMeans empty = stats.takePeriod();
        QVERIFY(empty.samples == 0 && std::isnan(empty.x[0]) && std::isnan(empty.intensity[1]));
    }

    // A quadrant detector without light has no position: it is left out of
    // the means and the window, not taken as zero.
    void positionsWithoutValueAreLeftOut()
    {
        StreamStatistics stats(10, 10);
        stats.setDetectors(StageDetectors(1, 50.0, 1, 0, 50.0, 0, false));
        stats.add(sample(0, 0, 100, 100, 4000));
        stats.add(sample(500, 500, 100, 100, 0)); // intensity 0: no QD position
        const PeriodMeans m = stats.takePeriod();
        // Samples, positions per stage, x1, window samples, intensity 1 (still averaged).
        QCOMPARE((std::vector<double>{double(m.samples), double(m.positionSamples[0]), double(m.positionSamples[1]),
                                      m.x[0], double(stats.stageStatistics(0).samples), m.intensity[0]}),
                 (std::vector<double>{2, 1, 2, 0.0, 1, 2.0}));
    }

    // Rolling window: mean and RMS radius over the last N positions only;
    // raw samples oldest first after the ring wrapped.
    void windowAndRawRingKeepTheLastSamples()
    {
        StreamStatistics stats(4, 3);
        const int xy[][2] = {{1000, 0}, {9000, 0}, {0, 1000}, {2000, 1000}, {0, -1000}, {2000, -1000}};
        for (int i = 0; i < 6; ++i)
            stats.add(sample(xy[i][0], xy[i][1], i, 0));
        // The last four x are 0, 2, 0, 2 V: every point 1 V off in x and in y.
        const StageStatistics st = stats.stageStatistics(0);
        QCOMPARE((std::vector<double>{double(st.samples), st.meanX, st.meanY, st.rmsRadius}),
                 (std::vector<double>{4, 1.0, 0.0, std::sqrt(2.0)}));
        const std::vector<StreamSample> raw = stats.rawSamples();
        QVERIFY(raw.size() == 3 && raw[0].x2 == 3 && raw[1].x2 == 4 && raw[2].x2 == 5);
        stats.clear();
        QVERIFY(stats.rawSamples().empty() && stats.stageStatistics(0).samples == 0);
    }

    void propertiesBecomeOptionsOrAreRefused()
    {
        // Properties, and the options they give (empty: refused) as
        // tcp|address|portOrBaud|rate|autoStart|eventRate|reconnectMs.
        for (auto [properties, summary] : std::initializer_list<std::pair<QStringList, QString>>{
                 {{"Address=10.0.0.5"}, "1|10.0.0.5|2000|100|0|10|3000"},
                 {{"Transport=Serial", "Address=ttyUSB0", "BaudRate=115200", "Port=9"}, "0|ttyUSB0|115200|100|0|10|3000"},
                 {{"Address=127.0.0.1", "Port=30001", "SamplingRate=500", "AutoStart=true", "EventRate=2.5",
                   "ReconnectInterval=5"}, "1|127.0.0.1|30001|500|1|2.5|5000"},
                 {{"Port=30001"}, ""}, {{"Address=a", "Transport=usb"}, ""}, {{"Address=a", "SamplingRate=0"}, ""},
                 {{"Address=a", "SamplingRate=501"}, ""}, {{"Address=a", "Port=http"}, ""},
                 {{"Address=a", "EventRate=0"}, ""}, {{"Address=a", "AutoStart=maybe"}, ""}}) {
            std::map<std::string, std::string> values;
            for (const QString &p : properties)
                values[p.section('=', 0, 0).toStdString()] = p.section('=', 1).toStdString();
            ControllerOptions o;
            std::string error;
            const bool accepted = DeviceProperties::toOptions(values, o, error);
            const QString got = QString("%1|%2|%3|%4|%5|%6|%7").arg(int(o.tcp)).arg(o.address).arg(o.portOrBaud)
                                    .arg(o.samplingRate).arg(int(o.autoStart)).arg(o.eventRate).arg(o.reconnectIntervalMs);
            QCOMPARE(accepted ? got : QString(), summary);
            QVERIFY2(accepted || !error.empty(), qPrintable(properties.join(' ')));
        }
    }

    // The defaults the configuration tools show are the ones a device takes.
    void declaredDefaultsAreTheOptionsDefaults()
    {
        std::map<std::string, std::string> values{{"Address", "10.0.0.5"}};
        for (const DeviceProperties::Declaration &d : DeviceProperties::declarations()) {
            QVERIFY2(!d.description.empty(), d.name.c_str());
            if (!d.defaultValue.empty())
                values[d.name] = d.defaultValue;
        }
        ControllerOptions fromDeclared, untouched;
        std::string error;
        QVERIFY2(DeviceProperties::toOptions(values, fromDeclared, error), error.c_str());
        QCOMPARE((std::vector<double>{double(fromDeclared.tcp), double(fromDeclared.portOrBaud), double(fromDeclared.samplingRate),
                                      double(fromDeclared.autoStart), fromDeclared.eventRate, double(fromDeclared.statisticsWindow),
                                      double(fromDeclared.rawSamples), double(fromDeclared.reconnectIntervalMs)}),
                 (std::vector<double>{double(untouched.tcp), double(untouched.portOrBaud), double(untouched.samplingRate),
                                      double(untouched.autoStart), untouched.eventRate, double(untouched.statisticsWindow),
                                      double(untouched.rawSamples), double(untouched.reconnectIntervalMs)}));
        values["Transport"] = "serial";
        QVERIFY(DeviceProperties::toOptions(values, fromDeclared, error) && fromDeclared.portOrBaud == 921600);
    }
};

QTEST_GUILESS_MAIN(TangoCoreTest)
#include "tst_tangocore.moc"
