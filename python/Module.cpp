// The Python module "beamstab": controllers over TCP or serial lines, their
// measurement stream as NumPy arrays, serial discovery, recordings and the
// jitter figures, on the same core as the application and the command-line
// tool.

#include "Arrays.h"
#include "Errors.h"
#include "PyController.h"
#include "SampleStream.h"

#include "analysis/RecordReader.h"
#include "link/DirectorySerialPorts.h"
#include "link/SerialDeviceDirectory.h"
#include "link/SerialDiscovery.h"

#include <pybind11/stl.h>

namespace py = pybind11;
using namespace beamstab;

namespace {

// An exception class of the module; bases given as Python objects.
py::object exceptionType(py::module_ &m, const char *name, const char *doc, py::tuple bases)
{
    const std::string qualified = std::string("beamstab.") + name;
    PyObject *type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases.ptr(), nullptr);
    if (!type)
        throw py::error_already_set();
    py::object result = py::reinterpret_steal<py::object>(type);
    m.attr(name) = result;
    return result;
}

py::dict statusDict(const Protocol::StatusFlags &f)
{
    py::dict d;
    d["stabilization"] = py::make_tuple(f.stabilizationOn[0], f.stabilizationOn[1]);
    d["active"] = py::make_tuple(f.active[0], f.active[1]);
    d["pfactor_from_software"] = f.pFactorFromSoftware;
    d["adjust_from_software"] = py::make_tuple(f.adjustFromSoftware[0], f.adjustFromSoftware[1]);
    d["flags"] = int(f.raw);
    return d;
}

py::list scan(bool all, bool pseudoTerminals, const std::optional<std::string> &deviceDir)
{
    ensureApplication();
    QList<QStringList> found;
    {
        py::gil_scoped_release release;
        std::shared_ptr<const SerialPortProvider> ports = serialPortProvider();
        QString directory = serialDeviceDirectory();
        if (deviceDir) {
            directory = QString::fromStdString(*deviceDir);
            ports = std::make_shared<DirectorySerialPorts>(directory);
        }
        found = SerialDiscovery(ports, directory).search(pseudoTerminals, all);
    }
    py::list result;
    for (const QStringList &entry : found) {
        py::dict d;
        d["id"] = entry.value(0).toStdString();
        d["port"] = entry.value(1).toStdString();
        d["baud"] = entry.value(2).toInt();
        d["flow"] = entry.value(3).toInt();
        result.append(d);
    }
    return result;
}

py::tuple readRecording(const std::string &path)
{
    RecordTable table;
    QString error;
    bool ok = false;
    {
        py::gil_scoped_release release;
        ok = RecordReader::readTableFile(QString::fromStdString(path), table, error);
    }
    if (!ok)
        throw py::value_error(error.toStdString());
    return recordingTuple(table);
}

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

py::dict analyze(const Doubles &position, double rate, const std::optional<Doubles> &range, int segment,
                 double fitMinutes)
{
    if (position.ndim() != 1)
        throw py::value_error("the positions must be one-dimensional");
    if (!(rate > 0))
        throw py::value_error("the rate must be a positive number of Hz");
    if (position.size() < 16)
        throw py::value_error("at least 16 samples are needed");
    if (segment < 8 || segment > (1 << 24))
        throw py::value_error("the segment takes 8 to 16777216 samples");
    if (!(fitMinutes > 0))
        throw py::value_error("fit_minutes must be positive");
    std::vector<double> x(position.data(), position.data() + position.size());
    std::vector<double> r;
    if (range) {
        if (range->ndim() != 1 || range->size() != position.size())
            throw py::value_error("the actuator range needs one value per position");
        r.assign(range->data(), range->data() + range->size());
    }
    JitterAnalysis::Settings settings;
    settings.segmentLength = segment;
    settings.headroomFitSeconds = fitMinutes * 60;
    JitterAnalysis::Axis axis;
    {
        py::gil_scoped_release release;
        axis = JitterAnalysis::analyzeAxis(x, r, rate, settings);
    }
    return axisFigures(axis);
}

} // namespace

PYBIND11_MODULE(beamstab, m)
{
    m.doc() = "Beam stabilization controllers from Python: connect over TCP or a serial line, read and set the "
              "stabilization, stream the measurements into NumPy arrays, find serial controllers, read "
              "recordings and compute the jitter figures. Streams and recordings need NumPy.";

    const py::object error = exceptionType(m, "Error", "Base of every error of a controller.",
                                           py::make_tuple(py::handle(PyExc_Exception)));
    const py::object connectionError =
        exceptionType(m, "ConnectionError", "The link could not be made, or it broke.",
                      py::make_tuple(error, py::handle(PyExc_ConnectionError)));
    const py::object noReplyError =
        exceptionType(m, "NoReplyError", "The controller did not answer in time.",
                      py::make_tuple(error, py::handle(PyExc_TimeoutError)));
    const py::object identificationError = exceptionType(
        m, "IdentificationError", "The controller's identification was not one of a controller.", py::make_tuple(error));
    const py::object commandError =
        exceptionType(m, "CommandError", "The controller refused a command, or a stream did not start or stop.",
                      py::make_tuple(error));
    py::register_exception_translator([](std::exception_ptr p) {
        const py::module_ self = py::module_::import("beamstab");
        try {
            if (p)
                std::rethrow_exception(p);
        } catch (const ConnectionFailed &e) {
            PyErr_SetString(self.attr("ConnectionError").ptr(), e.what());
        } catch (const NoReply &e) {
            PyErr_SetString(self.attr("NoReplyError").ptr(), e.what());
        } catch (const IdentificationFailed &e) {
            PyErr_SetString(self.attr("IdentificationError").ptr(), e.what());
        } catch (const CommandFailed &e) {
            PyErr_SetString(self.attr("CommandError").ptr(), e.what());
        } catch (const Error &e) {
            PyErr_SetString(self.attr("Error").ptr(), e.what());
        }
    });

    py::class_<PyController, std::shared_ptr<PyController>>(m, "Controller", R"(
One connected and identified controller. Made by connect() or connect_all();
a context manager that closes the link on leaving. Every call waits for the
controller without holding the GIL; a command given while a stream runs
pauses the stream around it without losing the samples sent before.)")
        .def_property_readonly("id", &PyController::id, "The controller ID of its identification.")
        .def_property_readonly("firmware", &PyController::firmware, "Firmware version number.")
        .def_property_readonly("variant_m", &PyController::variantM, "A variant M controller.")
        .def_property_readonly("trigger_capable", &PyController::triggerCapable, "Offers the trigger options.")
        .def_property_readonly("address", &PyController::address, "Host address or serial port name.")
        .def_property_readonly("url", &PyController::url, "The URL it was connected with.")
        .def_property("label", &PyController::label, &PyController::setLabel,
                      "The user's label; setting it stores it in the controller (25 characters).")
        .def_property_readonly("dropped", &PyController::dropped,
                               "Samples the link's store dropped since the last stream started, because they "
                               "were not taken in time.")
        .def_property_readonly("closed", [](const PyController &c) { return !c.isOpen(); })
        .def("status", [](PyController &c) { return statusDict(c.status()); },
             "The status flags: {'stabilization': (stage1, stage2), 'active': (stage1, stage2), "
             "'pfactor_from_software', 'adjust_from_software': (stage1, stage2), 'flags': raw byte}.")
        .def("set_stabilization", &PyController::setStabilization, py::arg("stage"), py::arg("on"),
             "Switches the stabilization of stage 1 or 2 on or off (sent again once when refused).")
        .def("pfactor", &PyController::pFactor, py::arg("stage"), "The P-factor of stage 1 or 2.")
        .def("set_pfactor", &PyController::setPFactor, py::arg("stage"), py::arg("value"),
             "Sets the P-factor of a stage (0 selects the external one; steps of 0.001).")
        .def("stream",
             [](std::shared_ptr<PyController> c, int rate, std::optional<double> seconds,
                std::optional<long long> count) {
                 return streamFor({std::move(c)}, rate, seconds.value_or(0), count.value_or(0)).front();
             },
             py::arg("rate"), py::arg("seconds") = py::none(), py::arg("count") = py::none(), R"(
Streams at `rate` Hz (1 to 500) for `seconds` from the start command on, or
until `count` samples came (then exactly `count` rows), stops the stream and
returns one row per sample: ms (since the first sample), x1 y1 i1 x2 y2 i2
rx1 ry1 rx2 ry2 (volts), stab1 stab2 active1 active2 mux1 mux2 (the stream
flags) and n (the sample's number in the stream). Ctrl-C stops the stream
and raises KeyboardInterrupt.)")
        .def("stream_blocks",
             [](std::shared_ptr<PyController> c, int rate, std::size_t block) {
                 return std::make_unique<BlockIterator>(std::move(c), rate, block);
             },
             py::arg("rate"), py::arg("block") = 100, R"(
An iterator of arrays of `block` rows (as stream()) while the stream runs.
The stream starts with the first block and stops when the loop is left
(break), on close(), on an error or on Ctrl-C.)")
        .def("close", &PyController::close, "Stops a running stream and ends the link.")
        .def("__enter__", [](std::shared_ptr<PyController> c) { return c; })
        .def("__exit__", [](PyController &c, py::args) { c.close(); })
        .def("__repr__", [](const PyController &c) {
            return "<beamstab.Controller " + c.id() + " at " + c.url() + (c.isOpen() ? "" : " (closed)") + ">";
        });

    py::class_<BlockIterator>(m, "BlockIterator", "The iterator of Controller.stream_blocks().")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &BlockIterator::next)
        .def("close", &BlockIterator::close, "Stops the stream.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](BlockIterator &b, py::args) { b.close(); });

    m.def("connect", &PyController::connect, py::arg("url"), py::arg("timeout") = 5.0, R"(
Connects "tcp://HOST[:PORT]" (port 2000 by default) or
"serial://[DIR/]PORT[?baud=B]" (e.g. serial:///dev/ttyUSB0?baud=921600;
115200 baud by default), waits up to `timeout` seconds for the link, stops a
stream left running and identifies the controller. Raises ConnectionError,
NoReplyError or IdentificationError.)");
    m.def("connect_all", &PyController::connectAll, py::arg("urls"), py::arg("timeout") = 5.0,
          "connect() for several controllers, opened and identified in parallel.");
    m.def("stream_all",
          [](const std::vector<std::shared_ptr<PyController>> &controllers, int rate, std::optional<double> seconds,
             std::optional<long long> count) {
              return streamFor(controllers, rate, seconds.value_or(0), count.value_or(0));
          },
          py::arg("controllers"), py::arg("rate"), py::arg("seconds") = py::none(), py::arg("count") = py::none(),
          "Controller.stream() for several controllers at once, read in one loop: a list of arrays.");
    m.def("scan", &scan, py::arg("all") = false, py::arg("pseudo_terminals") = false,
          py::arg("device_dir") = py::none(), R"(
Searches the serial interfaces for controllers (as `beamstab-cli scan`): a
list of {'id', 'port', 'baud', 'flow'}. `all` also tries interfaces that are
not FTDI adapters; `device_dir` searches the device files of a directory
(which needs `all`).)");
    m.def("read_recording", &readRecording, py::arg("path"), R"(
Reads a recording file and its .json: (array, dict). The array has one field
per column (ms, x1, y1, i1, ..., the names without their units); the dict is
the .json's content (empty without one) plus 'units' per column (and
'start' from the file when the .json has none).)");
    m.def("analyze", &analyze, py::arg("position"), py::arg("rate"), py::arg("range") = py::none(),
          py::arg("segment") = 4096, py::arg("fit_minutes") = 2.0, R"(
The jitter figures of one axis, as `beamstab-cli analyze` prints them: mean,
rms, spectrum_rms, bands [(low, high, rms)], peaks [(frequency, asd)], allan
{tau: deviation}, the Welch spectrum (frequency, asd, cumulative_rms,
segment, segments, resolution) and, with the actuator voltages in `range`,
the headroom.)");
    m.def("set_logging", &setLogging, py::arg("on"),
          "Writes the links' log lines (connections, replies, disconnections) to standard error.");
    m.def("bench_sequence", &benchSequence, py::arg("data"),
          "The sequence numbers a simulated controller in benchmark mode puts into its stream.");
}
