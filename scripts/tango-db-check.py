#!/usr/bin/python3
"""Client checks of beamstab-tango registered in a Tango database (TANGO_HOST
set by scripts/tango-db-check, which also starts the database): the property
wizard, memorized settings across a server restart, event counts under the
configured criteria, polling, units, FAULT and recovery of one controller,
a requested reconnection, and a server restart seen by subscribed clients."""
import argparse, os, signal, subprocess, sys, time

import tango

parser = argparse.ArgumentParser()
parser.add_argument("--server", required=True)
parser.add_argument("--sim", required=True)
parser.add_argument("--work", required=True)
args = parser.parse_args()

INSTANCE = "dbcheck"
SERVER = "beamstab-tango/" + INSTANCE
NAMES = ["lab/beamstab/1", "lab/beamstab/2"]
failures = []
started = []  # processes of this run, stopped by PID at the end


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    failures.extend([] if condition else [what])
    return condition


def wait_for(predicate, seconds, step=0.1):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            if predicate():
                return True
        except tango.DevFailed:
            pass
        time.sleep(step)
    return False


def raises(call):
    try:
        call()
        return False
    except tango.DevFailed:
        return True


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_sim(port, index, extra=()):
    log = os.path.join(args.work, "commands%d.txt" % index)
    proc = subprocess.Popen([args.sim, "--port", str(port), "--command-log", log] + list(extra),
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    for line in proc.stdout:
        if line.strip() == "ready":
            started.append(proc)
            return proc
    raise RuntimeError("beamstab-sim did not start")


def commands(index):
    with open(os.path.join(args.work, "commands%d.txt" % index)) as f:
        return [l.split()[1:] for l in f if l.strip() and l.split()[0] == "0"]


def stop(proc, sig=signal.SIGTERM):
    if proc.poll() is None:
        proc.send_signal(sig)
        try:
            proc.wait(20)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    if proc in started:
        started.remove(proc)


def start_server():
    log = open(os.path.join(args.work, "server.txt"), "a")
    proc = subprocess.Popen([args.server, INSTANCE], stdout=log, stderr=subprocess.STDOUT)
    started.append(proc)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and proc.poll() is None:
        if "Ready to accept request" in open(os.path.join(args.work, "server.txt")).read().split("== start")[-1]:
            return proc
        time.sleep(0.1)
    raise RuntimeError("beamstab-tango did not start")


def mark_server_log():
    with open(os.path.join(args.work, "server.txt"), "a") as f:
        f.write("== start\n")


def count_events(dev, name, kinds, seconds):
    seen = {k: [] for k in kinds}
    errors = []
    ids = [dev.subscribe_event(name, k, lambda e, k=k: errors.append(e.errors) if e.err else seen[k].append(e))
           for k in kinds]
    time.sleep(seconds)
    for i in ids:
        dev.unsubscribe_event(i)
    return {str(k): len(v) for k, v in seen.items()}, errors


# Detector settings of the simulated controllers: stage 1 a PSD in mm.
setup = os.path.join(args.work, "ConnectionSetup.xml")
with open(setup, "w") as f:
    f.write('<!DOCTYPE SetupML>\n<ORX_Beam_Stabilization>\n <Device_SIM000----->\n'
            '  <Detector1 beamDiameter="50" model="2" calculation="1"/>\n'
            '  <Detector2 beamDiameter="50" model="0" calculation="0"/>\n'
            '  <General pulsedLaser="0"/>\n </Device_SIM000----->\n</ORX_Beam_Stabilization>\n')

ports = [free_port(), free_port()]
sims = [start_sim(ports[0], 0), start_sim(ports[1], 1)]

db = tango.Database()
for name, port in zip(NAMES, ports):
    info = tango.DbDevInfo()
    info.name, info._class, info.server = name, "BeamStabilizer", SERVER
    db.add_device(info)
    db.put_device_property(name, {"Address": ["127.0.0.1"], "Port": [str(port)], "ReconnectInterval": ["1"]})
# One setup file for the whole class.
db.put_class_property("BeamStabilizer", {"SetupFile": [setup]})
print("registered %s with %s" % (SERVER, ", ".join(NAMES)), flush=True)

server = None
try:
    mark_server_log()
    server = start_server()
    dev = [tango.DeviceProxy(n) for n in NAMES]
    for d in dev:
        d.set_timeout_millis(5000)
    check(all(wait_for(lambda d=d: d.state() == tango.DevState.ON, 30) for d in dev), "both devices reach ON")

    # --- the property wizard and the device type
    admin = tango.DeviceProxy("dserver/" + SERVER)
    wizard = admin.QueryWizardDevProperty("BeamStabilizer")
    names = wizard[0::3]
    check(names[:3] == ["Transport", "Address", "Port"] and len(names) == 12 and "ReconnectInterval" in names,
          "QueryWizardDevProperty lists the 12 device properties: %s" % names)
    check(dict(zip(wizard[0::3], wizard[2::3]))["Port"] == "2000", "with their defaults (Port 2000)")
    check(admin.QueryWizardClassProperty("BeamStabilizer")[0] == "SetupFile", "QueryWizardClassProperty: SetupFile")
    check(dev[0].info().dev_type == "BeamStabilizationController", "device type " + dev[0].info().dev_type)

    # --- units from the class's setup file, stored with the attribute,
    # and not writable by clients
    check(dev[0].get_attribute_config("X1").unit == "mm", "X1 in mm (class property SetupFile)")
    stored = db.get_device_attribute_property(NAMES[0], ["X1"])["X1"].get("unit", [])
    check(list(stored) == ["mm"], "the database holds the unit the device shows: %s" % list(stored))
    config = dev[0].get_attribute_config("X1")
    config.unit = "V"
    check(raises(lambda: dev[0].set_attribute_config(config)), "a client cannot set the unit of X1")

    # --- polling defaults of the attributes without pushed events
    polled = db.get_device_property(NAMES[0], "polled_attr")["polled_attr"]
    pairs = dict(zip(polled[0::2], polled[1::2]))
    check(pairs.get("headroom1") == "1000" and pairs.get("samplesLost".lower()) == "1000",
          "polled_attr in the database: Headroom1 and SamplesLost every 1000 ms")
    counts, errors = count_events(dev[0], "Headroom1", [tango.EventType.CHANGE_EVENT], 2)
    check(counts[str(tango.EventType.CHANGE_EVENT)] >= 1 and not errors,
          "change events of the polled Headroom1 can be subscribed (alarm on its quality)")

    # --- memorized settings across a server restart
    dev[0].SamplingRate = 137
    dev[0].EventRate = 4
    memorized = db.get_device_attribute_property(NAMES[0], ["SamplingRate", "EventRate"])
    check(list(memorized["SamplingRate"].get("__value", [])) == ["137"]
          and list(memorized["EventRate"].get("__value", [])) == ["4"], "written values memorized in the database")
    stop(server)
    mark_server_log()
    server = start_server()
    check(wait_for(lambda: dev[0].state() == tango.DevState.ON, 30), "ON again after the server restart")
    rate = dev[0].read_attribute("SamplingRate")
    check(rate.value == 137 and rate.w_value == 137 and dev[0].EventRate == 4,
          "SamplingRate 137 and EventRate 4 restored (property SamplingRate is 100)")
    check(dev[0].get_attribute_config("X1").unit == "mm", "X1 still in mm after the restart")
    dev[0].Start()
    check(wait_for(lambda: ["SLS", "000000893b"] in commands(0), 5), "the stream starts at the memorized 137 Hz")

    # --- events under the configured criteria
    dev[1].Start()
    both = [tango.EventType.CHANGE_EVENT, tango.EventType.ARCHIVE_EVENT]
    counts, errors = count_events(dev[1], "X1", both, 15)
    print("X1 events in 15 s with the default criteria: %s" % counts, flush=True)
    check(counts[str(tango.EventType.CHANGE_EVENT)] >= 10 and not errors,
          "change events flow with the default criteria, no event time-out over 15 s")
    config = dev[1].get_attribute_config("X1")
    config.events.ch_event.abs_change = "1000"
    config.events.arch_event.archive_abs_change = "1000"
    config.events.arch_event.archive_period = "60000"
    dev[1].set_attribute_config(config)
    counts, errors = count_events(dev[1], "X1", both, 5)
    print("X1 events in 5 s with abs_change 1000, archive_abs_change 1000, archive_period 60 s: %s" % counts,
          flush=True)
    check(all(n <= 2 for n in counts.values()) and not errors, "next to no events under those criteria")

    # --- a requested reconnection: INIT with a status, never FAULT
    states = []
    dev[1].Reconnect()
    states.append((dev[1].state(), dev[1].status()))
    wait_for(lambda: states.append((dev[1].state(), dev[1].status())) or states[-1][0] == tango.DevState.RUNNING, 20)
    check(states[0][0] == tango.DevState.INIT and states[0][1].startswith("Reconnecting to")
          and tango.DevState.FAULT not in [s for s, _ in states] and states[-1][0] == tango.DevState.RUNNING,
          "Reconnect: INIT (%s), RUNNING again, no FAULT" % states[0][1])

    # --- a controller killed and started again: FAULT, then RUNNING on its own
    stop(sims[0], signal.SIGKILL)
    check(wait_for(lambda: dev[0].state() == tango.DevState.FAULT, 10), "FAULT when controller 1 is killed: "
          + dev[0].status())
    check(dev[1].state() == tango.DevState.RUNNING, "the other device keeps RUNNING")
    sims[0] = start_sim(ports[0], 0)
    check(wait_for(lambda: dev[0].state() == tango.DevState.RUNNING, 20),
          "RUNNING again once controller 1 is back (reconnected on its own, stream restarted)")

    # --- the server restarted under subscribed clients
    seen = []
    sub = dev[1].subscribe_event("X1", tango.EventType.CHANGE_EVENT, lambda e: seen.append(e.err))
    config = dev[1].get_attribute_config("X1")
    config.events.ch_event.abs_change = "0.001"
    dev[1].set_attribute_config(config)
    stop(server)
    mark_server_log()
    server = start_server()
    check(wait_for(lambda: dev[1].state() == tango.DevState.ON, 30), "device 2 ON after the second restart")
    dev[1].Start()
    before = len(seen)
    check(wait_for(lambda: seen[before:].count(False) >= 5, 40),
          "the client's subscription resumes after the restart (%d events after it)" % seen[before:].count(False))
    dev[1].unsubscribe_event(sub)
finally:
    for proc in reversed(started[:]):
        stop(proc)
    # Leave the database as a fresh run expects to find it: nothing (the
    # script starts from a new one anyway).

print("%d check(s) failed" % len(failures) if failures else "all checks passed", flush=True)
sys.exit(1 if failures else 0)
