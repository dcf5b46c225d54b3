#pragma once

// Python's headers before Qt's: Qt's "slots" keyword clashes with them.
#include <pybind11/pybind11.h>

#include "controller/Controller.h"
#include "link/StreamSample.h"

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// One connected and identified controller as a Python object. Every
// exchange is a request of its Controller, waited for without the GIL. A
// command given while a stream runs pauses the stream around it; the
// samples the controller sent before the pause are kept for the stream
// (they would otherwise be lost when the stream restarts).
class PyController
{
public:
    // Opens "tcp://HOST[:PORT]" or "serial://[DIR/]PORT[?baud=B]" and
    // identifies the controller (which also stops a stream left running).
    static std::shared_ptr<PyController> connect(const std::string &url, double timeoutSeconds);
    // Several at once: the links open and identify in parallel.
    static std::vector<std::shared_ptr<PyController>> connectAll(const std::vector<std::string> &urls,
                                                                 double timeoutSeconds);
    ~PyController();
    PyController(const PyController &) = delete;
    PyController &operator=(const PyController &) = delete;

    // Stops a running stream and ends the link; later calls raise. A call
    // running in another thread finishes first (it holds the controller).
    void close();
    bool isOpen() const { return current() != nullptr; }

    std::string id() const { return identity.controllerId.toStdString(); }
    int firmware() const { return identity.firmwareVersion; }
    bool variantM() const { return identity.variantM; }
    bool triggerCapable() const { return identity.triggerCapable; }
    std::string address() const;
    std::string url() const { return urlText; }
    std::string label() const;
    void setLabel(const std::string &label);
    long long dropped() const;

    Protocol::StatusFlags status();
    void setStabilization(int stage, bool on);
    double pFactor(int stage);
    void setPFactor(int stage, double value);

    // ---- For streams (SampleStream) -----------------------------------------------
    // The controller; raises ConnectionError when closed.
    std::shared_ptr<Controller> requests() const;
    // Connection::Disconnected once closed or once the link's thread ended.
    int linkState() const;
    bool isStreaming() const;
    // A stream of this controller is open: samples kept across pauses.
    void setStreamOpen(bool open);
    bool hasOpenStream() const;
    // Appends the samples kept across pauses and those in the link's store.
    void takeSamples(std::vector<StreamSample> &out);

private:
    // The samples a command's stream pause took out of the store, for the
    // stream. Shared with the requests, which may outlive a call.
    struct KeptSamples
    {
        std::mutex lock; // also orders the stream's takes against a pause's
        bool streamOpen = false;
        std::vector<StreamSample> samples;
        void keepStored(Connection &link);
    };

    PyController(std::unique_ptr<Controller> controller, std::string url);
    std::shared_ptr<Controller> current() const;
    // Runs exchange (which returns the command's reply) inside a stream
    // pause and judges the reply: raises on no reply or a refusal.
    QByteArray pausedCommand(const std::function<QByteArray(Connection &)> &exchange);

    mutable std::mutex controllerLock;
    std::shared_ptr<Controller> controller; // null once closed
    std::string urlText;
    ControllerIdentity identity;
    std::shared_ptr<KeptSamples> kept = std::make_shared<KeptSamples>();
};

// Creates the QCoreApplication the links need, once, unless there is one,
// and routes the log lines (to standard error with setLogging(true)).
void ensureApplication();
void setLogging(bool on);
