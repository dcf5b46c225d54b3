#include "RecordFormat.h"

#include "detectors/Detector.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

constexpr double toVolts = 0.001; // the stream carries millivolts

double position(const Detector &model, int raw, unsigned intensity)
{
    if (model.calculation == 0)
        return raw * toVolts;
    return model.calculatePosition(raw * toVolts, intensity * toVolts);
}

QByteArray stageColumns(int stage, const Detector &model)
{
    const QByteArray unit = model.unitText().toLocal8Bit();
    const QByteArray n = QByteArray::number(stage);
    return "X" + n + "(" + unit + ")\tY" + n + "(" + unit + ")\tI" + n + "(V)\t";
}

} // namespace

QByteArray RecordFormat::header(const QDateTime &start, const Detector &stage1, const Detector &stage2)
{
    QByteArray text = "Start: " + start.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() + "\n";
    text += "ms\t" + stageColumns(1, stage1) + stageColumns(2, stage2);
    text += "RX1(V)\tRY1(V)\tRX2(V)\tRY2(V)\n\n";
    return text;
}

int RecordFormat::formatFixed(char *out, double value, int decimals)
{
    if (decimals < 0)
        decimals = 0;
    if (decimals > 15)
        decimals = 15;
    if (std::isfinite(value)) {
        const auto result = std::to_chars(out, out + maxValueLength, value, std::chars_format::fixed, decimals);
        if (result.ec == std::errc())
            return int(result.ptr - out);
    }
    // NaN and infinities: what printf writes ("nan", "-inf", ...).
    char text[16];
    const int n = std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::copy(text, text + n, out);
    return n;
}

int RecordFormat::formatLine(char *out, quint32 ms, const StreamSample &s, const Detector &stage1,
                             const Detector &stage2)
{
    char *p = out;
    p = std::to_chars(p, p + 10, ms).ptr;
    auto value = [&p](double v, int decimals) {
        *p++ = '\t';
        p += formatFixed(p, v, decimals);
    };
    const int d1 = stage1.recordDecimals();
    const int d2 = stage2.recordDecimals();
    value(position(stage1, s.x1, s.intensity1), d1);
    value(position(stage1, s.y1, s.intensity1), d1);
    value(s.intensity1 * toVolts, 2);
    value(position(stage2, s.x2, s.intensity2), d2);
    value(position(stage2, s.y2, s.intensity2), d2);
    value(s.intensity2 * toVolts, 2);
    value(s.rangeX1 * toVolts, 2);
    value(s.rangeY1 * toVolts, 2);
    value(s.rangeX2 * toVolts, 2);
    value(s.rangeY2 * toVolts, 2);
    *p++ = '\n';
    return int(p - out);
}
