#include "Arrays.h"

#include <QJsonDocument>

#include <cmath>

namespace py = pybind11;

namespace beamstab {

namespace {
// The stream carries millivolts. Divided (not multiplied by 0.001) so that
// 4 mV is the double nearest 0.004, the number a recording's text reads as.
constexpr double millivoltsPerVolt = 1000.0;
}

void registerSampleDtype()
{
    static bool registered = false; // the GIL guards it
    if (registered)
        return;
    PYBIND11_NUMPY_DTYPE(SampleRow, ms, x1, y1, i1, x2, y2, i2, rx1, ry1, rx2, ry2, stab1, stab2, active1, active2,
                         mux1, mux2, n);
    registered = true;
}

py::array sampleArray(const std::vector<StreamSample> &samples, std::size_t from, std::size_t count,
                      int32_t firstTime, int64_t firstIndex)
{
    registerSampleDtype();
    py::array_t<SampleRow> rows{py::ssize_t(count)};
    SampleRow *row = rows.mutable_data();
    for (std::size_t i = 0; i < count; ++i, ++row) {
        const StreamSample &s = samples[from + i];
        row->ms = int64_t(uint32_t(s.time) - uint32_t(firstTime));
        row->x1 = s.x1 / millivoltsPerVolt;
        row->y1 = s.y1 / millivoltsPerVolt;
        row->i1 = s.intensity1 / millivoltsPerVolt;
        row->x2 = s.x2 / millivoltsPerVolt;
        row->y2 = s.y2 / millivoltsPerVolt;
        row->i2 = s.intensity2 / millivoltsPerVolt;
        row->rx1 = s.rangeX1 / millivoltsPerVolt;
        row->ry1 = s.rangeY1 / millivoltsPerVolt;
        row->rx2 = s.rangeX2 / millivoltsPerVolt;
        row->ry2 = s.rangeY2 / millivoltsPerVolt;
        row->stab1 = s.stabOn1;
        row->stab2 = s.stabOn2;
        row->active1 = s.active1;
        row->active2 = s.active2;
        row->mux1 = s.multiplex1;
        row->mux2 = s.multiplex2;
        row->n = firstIndex + int64_t(i);
    }
    return std::move(rows);
}

py::tuple recordingTuple(const RecordTable &table)
{
    const py::module_ numpy = py::module_::import("numpy");
    py::list fields;
    py::dict units;
    std::vector<std::string> names;
    for (const QByteArray &column : table.columns) {
        const int paren = column.indexOf('(');
        const std::string name = (paren < 0 ? column : column.left(paren)).trimmed().toLower().toStdString();
        names.push_back(name);
        fields.append(py::make_tuple(name, "f8"));
        units[py::str(name)] = RecordReader::unitOf(column).toStdString();
    }
    py::array array = numpy.attr("empty")(py::ssize_t(table.rows()), numpy.attr("dtype")(fields));
    for (std::size_t c = 0; c < names.size(); ++c) {
        const auto &values = table.values[c];
        array[py::str(names[c])] = py::array_t<double>(py::ssize_t(values.size()), values.data());
    }
    py::dict meta;
    if (!table.metadata.isEmpty())
        meta = py::module_::import("json").attr("loads")(py::str(table.metadata.constData(), size_t(table.metadata.size())));
    if (table.start.isValid() && !meta.contains("start"))
        meta["start"] = table.start.toString(Qt::ISODate).toStdString();
    meta["units"] = units;
    return py::make_tuple(array, meta);
}

namespace {
py::array_t<double> doubles(const std::vector<double> &values)
{
    return py::array_t<double>(py::ssize_t(values.size()), values.data());
}
} // namespace

py::dict axisFigures(const JitterAnalysis::Axis &a)
{
    py::dict d;
    d["mean"] = a.mean;
    d["rms"] = a.rms;
    d["spectrum_rms"] = a.cumulativeRms.empty() ? NAN : a.cumulativeRms.front();
    py::list bands;
    for (const auto &b : a.bands)
        bands.append(py::make_tuple(b.low, b.high, b.rms));
    d["bands"] = bands;
    py::list peaks;
    for (const auto &p : a.peaks)
        peaks.append(py::make_tuple(p.frequency, p.asd));
    d["peaks"] = peaks;
    py::dict allan;
    const auto &taus = JitterAnalysis::standardTaus();
    for (std::size_t i = 0; i < taus.size(); ++i)
        allan[py::float_(taus[i])] = a.allanAtStandardTaus[i];
    d["allan"] = allan;
    const Spectrum &s = a.spectrum;
    d["segment"] = s.segmentLength;
    d["segments"] = s.segments;
    d["resolution"] = s.resolution;
    d["frequency"] = doubles(s.frequency);
    d["asd"] = doubles(s.asd);
    d["cumulative_rms"] = doubles(a.cumulativeRms);
    if (a.headroom.valid) {
        const Headroom &h = a.headroom;
        py::dict head;
        head["voltage"] = h.voltage;
        head["distance"] = h.distance;
        head["nearest_limit"] = h.nearestLimit;
        head["drift"] = h.drift;
        head["seconds_to_limit"] = h.secondsToLimit;
        head["heading_limit"] = h.headingLimit;
        head["fit_span"] = h.fitSpan;
        head["warning"] = h.isWarning();
        d["headroom"] = head;
    } else {
        d["headroom"] = py::none();
    }
    return d;
}

py::array_t<uint32_t> benchSequence(const py::array &rows)
{
    // Low half in x, high half in y, as millivolts of a signed 16-bit field.
    const auto x = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(rows[py::str("x2")]);
    const auto y = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(rows[py::str("y2")]);
    if (!x || !y || x.ndim() != 1 || x.size() != y.size())
        throw py::value_error("expected the rows of a stream (fields x2 and y2)");
    py::array_t<uint32_t> out(x.size());
    auto half = [](double volts) { return uint32_t(uint16_t(int16_t(std::lround(volts * millivoltsPerVolt)))); };
    for (py::ssize_t i = 0; i < x.size(); ++i)
        out.mutable_data()[i] = half(x.data()[i]) | (half(y.data()[i]) << 16);
    return out;
}

} // namespace beamstab
