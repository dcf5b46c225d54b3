#!/usr/bin/env python3
"""Load figures of beamstab-tango: N simulated controllers streaming at a
given rate, one BeamStabilizer device each. Prints the change-event rate a
client receives per device and the server's CPU use (user + system time of
its process over the measuring window, in percent of one core).

  /usr/bin/python3 bench/tango/tango_load.py --server build/tango/beamstab-tango \
      --sim build/simulator/beamstab-sim --count 10 --rate 500 --seconds 10
"""
import argparse
import os
import signal
import subprocess
import sys
import time

import tango

parser = argparse.ArgumentParser()
parser.add_argument("--server", required=True)
parser.add_argument("--sim", required=True)
parser.add_argument("--count", type=int, default=1)
parser.add_argument("--rate", type=int, default=500)
parser.add_argument("--event-rate", type=float, default=10)
# Without a Tango database the client hears no event heartbeat and gives up
# on its subscriptions 12 s after subscribing (API_EventTimeout; the Python
# client may then crash): the measuring window stays below that.
parser.add_argument("--seconds", type=float, default=10, help="measuring window, at most 10 s")
parser.add_argument("--sim-port", type=int, default=30100)
parser.add_argument("--server-port", type=int, default=30600)
args = parser.parse_args()
if not 0 < args.seconds <= 10:
    sys.exit("--seconds must be more than 0 and at most 10")

ticks = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / ticks  # utime + stime


sim = subprocess.Popen([args.sim, "--port", str(args.sim_port), "--count", str(args.count)],
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
for line in sim.stdout:
    if line.strip() == "ready":
        break
names = ["beamstab/load/%d" % i for i in range(args.count)]
command = [args.server, "load", "-nodb", "-dlist", ",".join(names),
           "-ORBendPoint", "giop:tcp:127.0.0.1:%d" % args.server_port]
for i, n in enumerate(names):
    for prop, value in (("Address", "127.0.0.1"), ("Port", args.sim_port + i), ("SamplingRate", args.rate),
                        ("AutoStart", "true"), ("EventRate", args.event_rate), ("SetupFile", "/nonexistent")):
        command += ["-prop", "%s:%s=%s" % (n, prop, value)]
server = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
try:
    devices = [tango.DeviceProxy("tango://127.0.0.1:%d/%s#dbase=no" % (args.server_port, n)) for n in names]
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        try:
            if all(d.state() == tango.DevState.RUNNING for d in devices):
                break
        except tango.DevFailed:
            pass
        time.sleep(0.2)
    else:
        sys.exit("not all devices reached RUNNING")
    time.sleep(2)  # settle
    counts = [0] * len(devices)

    def counter(k):
        def cb(event):
            if not event.err:
                counts[k] += 1
        return cb

    # Never unsubscribed: the Python client can crash when an event arrives
    # during an unsubscription; the server's end ends the subscriptions.
    for k, d in enumerate(devices):
        d.subscribe_event("X1", tango.EventType.CHANGE_EVENT, counter(k))
    time.sleep(0.5)
    counts = [0] * len(devices)
    cpu0, t0 = cpu_seconds(server.pid), time.monotonic()
    received0 = [d.SamplesReceived for d in devices]
    time.sleep(args.seconds)
    cpu1, t1 = cpu_seconds(server.pid), time.monotonic()
    counted = list(counts)
    received1 = [d.SamplesReceived for d in devices]
    lost = [d.SamplesLost for d in devices]
    span = t1 - t0
    rates = [c / span for c in counted]
    samples = [(b - a) / span for a, b in zip(received0, received1)]
    print("controllers %d, sampling %d Hz, event rate set %.1f Hz, window %.1f s"
          % (args.count, args.rate, args.event_rate, span))
    print("change events per device per s: min %.2f mean %.2f max %.2f"
          % (min(rates), sum(rates) / len(rates), max(rates)))
    print("samples per device per s: min %.1f mean %.1f; lost in total %d"
          % (min(samples), sum(samples) / len(samples), sum(lost)))
    print("server CPU: %.1f %% of one core, %.2f ms per 1000 samples"
          % (100.0 * (cpu1 - cpu0) / span, 1e6 * (cpu1 - cpu0) / max(1, sum(received1) - sum(received0))))
finally:
    server.send_signal(signal.SIGTERM)
    try:
        server.wait(20)
    except subprocess.TimeoutExpired:
        server.kill()
    sim.send_signal(signal.SIGTERM)
    sim.wait()
# The Python client may crash while it tears down live subscriptions at the
# interpreter's end; the figures are out and both processes are gone.
sys.stdout.flush()
os._exit(0)
