#!/usr/bin/env python3
"""beamstab-tango end to end through the Tango Python client, against beamstab-sim
(its command log and stdin) without a Tango database: the class as configuration
tools see it, attributes, writes, events under their criteria, logging, ALARM,
FAULT and Reconnect; with --serial over a pseudo-terminal, only the
identification and the stream. Exits 77 (skipped) only when Tango is missing."""
import argparse, math, os, random, re, signal, socket, subprocess, sys, tempfile, time

SKIP = 77

parser = argparse.ArgumentParser()
parser.add_argument("--server", default="")
parser.add_argument("--sim", required=True)
parser.add_argument("--serial", action="store_true", help="reach the simulator over a pseudo-terminal")
args = parser.parse_args()

if not args.server or not os.path.exists(args.server):
    print("SKIP: beamstab-tango was not built (the Tango C++ library, libtango-dev, is not installed)")
    sys.exit(SKIP)
try:
    import tango
except ImportError:
    print("SKIP: the Tango Python client (python3-tango) is not installed for " + sys.executable)
    sys.exit(SKIP)

failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    failures.extend([] if condition else [what])
    return condition


# A port from a range below the ones the system hands out to outgoing
# connections, free on the loopback and on all interfaces.
def free_port(low, high):
    for _ in range(200):
        port = random.randint(low, high)
        try:
            for host in ("127.0.0.1", "0.0.0.0"):
                with socket.socket() as s:
                    s.bind((host, port))
            return port
        except OSError:
            continue
    raise RuntimeError("no free port in %d-%d" % (low, high))


def raises(call):
    try:
        call()
        return False
    except tango.DevFailed:
        return True


def wait_for(predicate, seconds, step=0.05):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            if predicate():
                return True
        except tango.DevFailed:
            pass
        time.sleep(step)
    return False


work = tempfile.mkdtemp(prefix="beamstab-tango-test-")
log_path = os.path.join(work, "commands.txt")
sim_port, server_port = free_port(29000, 29499), free_port(29500, 29999)
device_name = "beamstab/ctest/1"

# Detector settings of the simulated controller (ID ...SIM000...): stage 1 a
# PSD showing millimetres, stage 2 without a detector model (volts).
setup_path = os.path.join(work, "ConnectionSetup.xml")
with open(setup_path, "w") as f:
    f.write('<!DOCTYPE SetupML>\n<ORX_Beam_Stabilization>\n <Device_SIM000----->\n'
            '  <Detector1 beamDiameter="50" model="2" calculation="1"/>\n'
            '  <Detector2 beamDiameter="50" model="0" calculation="0"/>\n'
            '  <General pulsedLaser="0"/>\n </Device_SIM000----->\n</ORX_Beam_Stabilization>\n')

WINDOW = 200
serial_name = "ttyUSB%d" % os.getpid()  # serial lock files are shared machine-wide: a name of this run's own


def start_sim(extra=()):
    link = (["--serial", "--serial-link", os.path.join(work, serial_name)] if args.serial
            else ["--port", str(sim_port)])
    proc = subprocess.Popen([args.sim, "--stdin", "--command-log", log_path] + link + list(extra), stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    for line in proc.stdout:
        if line.strip() == "ready":
            return proc
    raise RuntimeError("beamstab-sim did not start")


def log_lines():
    with open(log_path) as f:
        return [line.split() for line in f if line.strip()]


def commands_since(mark):
    return [l[1:] for l in log_lines()[mark:] if l[0] == "0"]


def wait_for_command(mark, code, argument, seconds=5):
    return wait_for(lambda: [code, argument] in commands_since(mark), seconds)


def offset_beam(stage, mv):
    sim.stdin.write("offset 0 %d %d %d\n" % (stage, mv, mv))
    sim.stdin.flush()


def count_events(names, seconds, kinds=(tango.EventType.CHANGE_EVENT,)):
    """Events per (attribute, kind) over a few seconds of subscription (kept
    short: without a database the client gives up on them after 12 s)."""
    seen = {(n, k): [] for n in names for k in kinds}
    ids = [dev.subscribe_event(n, k, lambda e, key=(n, k): e.err or seen[key].append(e.attr_value.value))
           for n, k in seen]
    time.sleep(seconds)
    for i in ids:
        dev.unsubscribe_event(i)
    return seen


def set_events(name, **criteria):
    config = dev.get_attribute_config(name)
    for field, value in criteria.items():
        event = config.events.arch_event if field.startswith("archive") else config.events.ch_event
        setattr(event, field, value)
    dev.set_attribute_config(config)


def finish():
    print("%d check(s) failed; server log in %s" % (len(failures), work) if failures else "all checks passed")
    return 1 if failures else 0


sim = start_sim()
server_log = open(os.path.join(work, "server.txt"), "w")
prop = lambda name, value: ["-prop", "%s:%s=%s" % (device_name, name, value)]
server = subprocess.Popen(
    [args.server, "ctest", "-nodb", "-dlist", device_name, "-ORBendPoint", "giop:tcp:127.0.0.1:%d" % server_port]
    + (prop("Transport", "serial") + prop("Address", serial_name) + prop("BaudRate", 921600) if args.serial
       else prop("Transport", "tcp") + prop("Address", "127.0.0.1") + prop("Port", sim_port))
    + prop("Label", "ctest_label") + prop("SetupFile", setup_path) + prop("SamplingRate", 100)
    + prop("EventRate", 10) + prop("StatisticsWindow", WINDOW) + prop("RawSamples", WINDOW)
    + prop("ReconnectInterval", 600),
    stdout=server_log, stderr=subprocess.STDOUT, env=dict(os.environ, BEAMSTAB_SERIAL_DIR=work))

try:
    dev = tango.DeviceProxy("tango://127.0.0.1:%d/%s#dbase=no" % (server_port, device_name))
    dev.set_timeout_millis(5000)

    # --- connection and identification
    check(wait_for(lambda: dev.state() == tango.DevState.ON, 30), "device reaches ON after connecting")
    identification = [l for l in log_lines() if l[0] == "id"][0][2]
    check(dev.ControllerID == identification, "ControllerID is the simulator's identification")
    check(dev.FirmwareVersion == int(identification.split("-V")[1].split("-")[0]), "FirmwareVersion from -V tag")
    # The simulator's command log may lag a little behind the device's state.
    check(wait_for_command(0, "SLA", ("ctest_label" + " " * 14).encode().hex() + "3b"),
          "the Label property was sent to the controller, padded to 25 bytes")
    check([dev.PFactor1, dev.PFactor2, dev.StabilizationOn1, dev.StabilizationOn2, dev.Active1, dev.Active2]
          == [400, 400, False, False, True, True], "P-factors read (default 400), stabilization off, stages active")
    # Stage 1 a PSD in length (setup file), stage 2 without a detector model.
    check([dev.get_attribute_config(n).unit for n in ("X1", "X2")] == ["mm", "V"], "units from the setup file")

    # --- the class as configuration tools see it
    admin = tango.DeviceProxy("tango://127.0.0.1:%d/dserver/beamstab-tango/ctest#dbase=no" % server_port)
    wizard = admin.QueryWizardDevProperty("BeamStabilizer")
    declared = {wizard[i]: wizard[i + 2] for i in range(0, len(wizard), 3)}
    check(list(declared) == ["Transport", "Address", "Port", "BaudRate", "Label", "SetupFile", "SamplingRate",
                             "AutoStart", "EventRate", "StatisticsWindow", "RawSamples", "ReconnectInterval"]
          and [declared[n] for n in ("Transport", "Port", "BaudRate", "SamplingRate", "EventRate")]
          == ["tcp", "2000", "921600", "100", "10"], "device properties declared with defaults: %s" % declared)
    class_wizard = admin.QueryWizardClassProperty("BeamStabilizer")
    check(class_wizard[0] == "SetupFile" and class_wizard[2].endswith("ConnectionSetup.xml"),
          "class property SetupFile with the per-user default file: %s" % class_wizard[2])
    check(dev.info().dev_type == "BeamStabilizationController", "device type: " + dev.info().dev_type)
    check(all("WRITE_INIT" in str(dev.get_attribute_config(n).memorized) for n in ("SamplingRate", "EventRate"))
          and "NONE" in str(dev.get_attribute_config("PFactor1").memorized),
          "SamplingRate and EventRate are memorized and written at start, PFactor1 is not")
    x1_events = dev.get_attribute_config("X1").events
    check([x1_events.ch_event.abs_change, x1_events.arch_event.archive_abs_change, x1_events.arch_event.archive_period]
          == ["0.001", "0.1", "60000"], "default change and archive criteria of X1")
    polled = {n: dev.get_attribute_poll_period(n) for n in ("Headroom1", "Intensity2", "MeanX1", "SamplesLost", "X1")}
    check(polled == {"Headroom1": 1000, "Intensity2": 1000, "MeanX1": 1000, "SamplesLost": 1000, "X1": 0}
          and dev.get_attribute_config("Headroom1").events.ch_event.abs_change == "0.01",
          "attributes without pushed events are polled with change criteria: %s" % polled)
    # The unit of a position is the detector's: a client cannot change it,
    # but may change the rest of the configuration.
    config = dev.get_attribute_config("X1")
    config.unit = "um"
    check(raises(lambda: dev.set_attribute_config(config)) and dev.get_attribute_config("X1").unit == "mm",
          "a client cannot set the unit of a position")
    config = dev.get_attribute_config("X1")
    config.label = "Beam x, stage 1"
    dev.set_attribute_config(config)
    check(dev.get_attribute_config("X1").label == "Beam x, stage 1", "other configuration of X1 can be set")

    # --- the server's own lines go to Tango's logging, not to stdout
    tango_log = os.path.join(work, "tango-log.txt")
    admin.AddLoggingTarget([device_name, "file::" + tango_log])
    admin.SetLoggingLevel([[5], [device_name]])

    # --- stream: sampling rate goes into the start command
    mark = len(log_lines())
    dev.SamplingRate = 250
    dev.Start()
    check(wait_for(lambda: dev.state() == tango.DevState.RUNNING, 5) and wait_for_command(mark, "SLS", "000000fa3b"),
          "Start gives RUNNING, the stream started at the written rate 250 Hz")
    check(wait_for(lambda: dev.SamplesReceived >= 2 * WINDOW, 20), "samples arrive")
    dev.SamplingRate = 200
    check(wait_for_command(mark, "SLS", "000000c83b") and dev.state() == tango.DevState.RUNNING,
          "a rate written while streaming restarts the stream at it")
    dev.SamplingRate = 250
    check(wait_for_command(mark, "SLS", "000000fa3b"), "and back at 250 Hz")
    dev.Stop()
    check(dev.state() == tango.DevState.ON, "Stop gives ON")
    time.sleep(0.5)  # one more event period: statistics over the final window

    # --- attributes against the raw samples of the same window
    names = [a + stage for a in ("X", "Y", "MeanX", "MeanY", "RMSRadius", "Intensity", "RangeX", "RangeY", "RawX", "RawY",
                                 "RawIntensity", "Headroom") for stage in "12"] + ["SamplesReceived", "SamplesLost", "SamplingRate"]
    # From the device itself: polled attributes would come from the last poll.
    dev.set_source(tango.DevSource.DEV)
    v = {a.name: a.value for a in dev.read_attributes(names)}
    dev.set_source(tango.DevSource.CACHE_DEV)
    raw = {k: list(v[k]) for k in names if k.startswith("Raw")}
    check(all(len(r) == WINDOW for r in raw.values()), "raw spectra hold the last %d samples" % WINDOW)
    mean, close = (lambda xs: sum(xs) / len(xs)), (lambda a, b: abs(a - b) <= 1e-9 * max(1.0, abs(b)))
    # Stage 1 is a PSD in millimetres (volts / 1.2), stage 2 in volts.
    x1, y1, x2, y2 = ([r * 0.001 / scale for r in raw[k]] for k, scale in
                      (("RawX1", 1.2), ("RawY1", 1.2), ("RawX2", 1.0), ("RawY2", 1.0)))
    for name, values in (("MeanX1", x1), ("MeanY1", y1), ("MeanX2", x2), ("MeanY2", y2)):
        check(close(v[name], mean(values)), "%s is the mean of the raw window in its unit" % name)
    for name, xs, ys in (("RMSRadius1", x1, y1), ("RMSRadius2", x2, y2)):
        mx, my = mean(xs), mean(ys)
        rms = math.sqrt(mean([(a - mx) ** 2 + (b - my) ** 2 for a, b in zip(xs, ys)]))
        check(close(v[name], rms), "%s is the RMS radius of the raw window" % name)
    check(min(x1) <= v["X1"] <= max(x1) and min(x2) <= v["X2"] <= max(x2), "period positions within the raw samples")
    check(3.0 < v["Intensity1"] < 5.0 and 3.0 < v["Intensity2"] < 5.0, "intensities near the simulated 4 V")
    check(all(0.0 <= v[n] <= 10.0 for n in ("RangeX1", "RangeY1", "RangeX2", "RangeY2")), "actuator ranges in 0..10 V")
    check(v["SamplesReceived"] >= 2 * WINDOW and v["SamplesLost"] == 0 and v["SamplingRate"] == 250,
          "samples received, none lost, SamplingRate reads back 250")
    check(all(4.0 < v[n] <= 5.0 for n in ("Headroom1", "Headroom2")), "piezos at rest mid-range: headroom about 5 V")

    if args.serial:
        raise SystemExit(finish())

    # --- writes while streaming go through stop, command, restart
    mark = len(log_lines())
    dev.Start()
    check(wait_for_command(mark, "SLS", "000000fa3b"), "stream restarted")
    mark = len(log_lines())
    dev.PFactor1 = 250
    check(dev.PFactor1 == 250 and wait_for_command(mark, "SPF", "0100fa3b"), "PFactor1 250 reached the controller")
    wait_for_command(mark, "SLS", "000000fa3b")  # the log may lag behind the restart
    seq = [c[0] for c in commands_since(mark)]
    check(seq[:3] == ["CLS", "SPF", "SLS"], "stream paused around the P-factor: %s" % seq[:3])
    check(dev.state() == tango.DevState.RUNNING, "stream runs again after the write")
    mark = len(log_lines())
    dev.StabilizationOn(2)
    check(wait_for_command(mark, "SEA", "023b") and wait_for(lambda: dev.StabilizationOn2, 5),
          "StabilizationOn(2) sent SEA for stage 2, reported back by the stream flags")
    dev.StabilizationOff(2)
    check(wait_for_command(mark, "CEA", "023b") and wait_for(lambda: not dev.StabilizationOn2, 5),
          "StabilizationOff(2) sent CEA for stage 2, StabilizationOn2 off again")
    for bad in (lambda: dev.StabilizationOn(3), lambda: dev.write_attribute("PFactor1", 70000),
                lambda: dev.write_attribute("SamplingRate", 0)):
        check(raises(bad), "an invalid stage or value is refused")

    # --- change events at the event rate, not the sample rate, and only
    # those that meet the attribute's criteria
    seen = count_events(["X1", "RMSRadius1"], 3.0)
    print("change events in 3 s at 250 Hz sampling: %s" % {n: len(v) for (n, k), v in seen.items()})
    check(all(5 <= len(values) <= 90 for values in seen.values()), "change events at about 10 Hz (5..90 in 3 s)")
    check(all(isinstance(x, float) and not math.isnan(x) for values in seen.values() for x in values), "event values are numbers")
    set_events("X1", abs_change="1000", archive_abs_change="1000", archive_period="60000")
    both = (tango.EventType.CHANGE_EVENT, tango.EventType.ARCHIVE_EVENT)
    quiet = count_events(["X1"], 3.0, both)
    print("X1 events in 3 s under abs_change 1000: %s" % {str(k): len(v) for (n, k), v in quiet.items()})
    # At most the subscription's own event, and for archiving the first push
    # that Tango compares the later ones with.
    check(all(len(v) <= 2 for v in quiet.values()), "criteria of the configuration hold back the events")
    set_events("X1", abs_change="1e-9")
    dev.EventRate = 2
    slow = count_events(["X1"], 3.0)[("X1", tango.EventType.CHANGE_EVENT)]
    check(dev.EventRate == 2 and 2 <= len(slow) <= 10, "EventRate 2: %d change events in 3 s" % len(slow))
    dev.EventRate = 10
    set_events("X1", abs_change="0.001")

    # --- a beam displaced beyond what stage 1's piezos can take up: ALARM
    # while they sit at the end of their range, RUNNING once it is back
    states = []

    def watch_state():
        return dev.subscribe_event("State", tango.EventType.CHANGE_EVENT,
                                   lambda e: None if e.err else states.append(e.attr_value.value))

    offset_beam(1, 6000)
    dev.StabilizationOn(1)
    check(wait_for(lambda: dev.state() == tango.DevState.ALARM, 10), "ALARM with stage 1's piezos at their range end")
    # Headroom is polled once a second: a read may give the last poll's value.
    headroom = lambda: dev.read_attributes(["Headroom1", "Headroom2"])
    in_alarm = lambda h: (h[0].value < 1.0 and h[0].quality == tango.AttrQuality.ATTR_ALARM and h[1].value > 1.0
                          and h[1].quality == tango.AttrQuality.ATTR_VALID)
    wait_for(lambda: in_alarm(headroom()), 5)
    h1, h2 = headroom()
    check(in_alarm((h1, h2)), "Headroom1 %.2f V (alarm), Headroom2 %.2f V" % (h1.value, h2.value))
    state_id = watch_state()
    offset_beam(1, 0)
    check(wait_for(lambda: dev.state() == tango.DevState.RUNNING, 15) and wait_for(lambda: dev.Headroom1 > 1.0, 5),
          "RUNNING again once the piezos are back, Headroom1 recovered")
    changes = lambda: [x for i, x in enumerate(states) if i == 0 or x != states[i - 1]]  # a late push may repeat
    check(wait_for(lambda: changes() == [tango.DevState.ALARM, tango.DevState.RUNNING], 5),
          "State events: ALARM, then RUNNING: %s" % states)
    dev.unsubscribe_event(state_id)
    offset_beam(1, 6000)
    check(wait_for(lambda: dev.state() == tango.DevState.ALARM, 10), "ALARM again before the controller goes away")

    # --- controller goes away: FAULT (over ALARM), then back after Reconnect
    state_id = watch_state()
    sim.send_signal(signal.SIGKILL)
    sim.wait()
    check(wait_for(lambda: dev.state() == tango.DevState.FAULT, 5), "FAULT after the controller went away")
    check(wait_for(lambda: tango.DevState.FAULT in states, 10), "a State change event carried FAULT: %s" % states)
    dev.unsubscribe_event(state_id)
    check(len(dev.status()) > 0 and dev.status() != "Connected", "status says why: " + dev.status())
    dev.Stop()  # forget the running stream so that the reconnection ends in ON
    sim = start_sim()
    time.sleep(1.0)
    check(dev.state() == tango.DevState.FAULT, "no automatic reconnection before its interval (600 s here)")
    dev.Reconnect()
    check(wait_for(lambda: dev.state() == tango.DevState.ON, 20), "ON again after Reconnect")
    check(dev.ControllerID == identification, "same controller identified again")

    # --- a requested reconnection is no fault: INIT saying so, never FAULT.
    # The controller now answers slowly, so that it lasts seconds.
    sim.kill()
    sim.wait()
    sim = start_sim(["--delay-replies", "700"])
    dev.Reconnect()
    states = [(dev.state(), dev.status())]
    wait_for(lambda: states.append((dev.state(), dev.status())) or states[-1][0] == tango.DevState.ON, 30, 0.1)
    seen_states = set(s for s, _ in states)
    check(states[0] == (tango.DevState.INIT, "Reconnecting to 127.0.0.1:%d" % sim_port)
          and tango.DevState.FAULT not in seen_states and states[-1][0] == tango.DevState.ON,
          "Reconnect: INIT (\"%s\"), then ON, no FAULT: %s" % (states[0][1], sorted(map(str, seen_states))))
    # Opening a link stops a stream the controller may still send: the
    # link's debug lines about it, and the worker's notes, are the device's.
    logged = lambda: open(tango_log, errors="replace").read() if os.path.exists(tango_log) else ""
    line = lambda level, text: '<log4j:event logger="%s"' % device_name in logged() and re.search(
        r'level="%s"[^>]*>\s*<log4j:message><!\[CDATA\[%s' % (level, text), logged())
    check(wait_for(lambda: line("DEBUG", "Saving reply") and line("INFO", "Reconnecting to 127.0.0.1"), 10),
          "the server's debug and info lines reach the device's Tango log at their levels")
    check("Saving reply" not in open(os.path.join(work, "server.txt")).read(), "and not the server's stdout")
finally:
    server.send_signal(signal.SIGTERM)
    try:
        server.wait(15)
    except subprocess.TimeoutExpired:
        server.kill()
        server.wait()
    sim.kill()
    sim.wait()

sys.exit(finish())
