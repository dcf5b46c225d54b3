#!/usr/bin/env python3
"""The beamstab module against simulated controllers (beamstab-sim processes)
and against what beamstab-cli reports for the same simulator."""

import argparse
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import textwrap
import threading
import time
import unittest

import numpy as np

import beamstab

ARGS = None


def free_port(count=1):
    """A first port of `count` free consecutive ports."""
    for _ in range(200):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            first = s.getsockname()[1]
        if first + count > 65000:
            continue
        try:
            for p in range(first, first + count):
                with socket.socket() as t:
                    t.bind(("127.0.0.1", p))
            return first
        except OSError:
            continue
    raise RuntimeError("no free ports")


def wait_for(predicate, seconds=30.0):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


class Sim:
    """One beamstab-sim process with its command log."""

    def __init__(self, *options, count=1, serial_dir=None):
        self.dir = tempfile.TemporaryDirectory()
        self.log = os.path.join(self.dir.name, "commands.log")
        self.port = None
        cmd = [ARGS.sim, "--command-log", self.log] + list(options)
        if serial_dir:
            cmd += ["--serial", "--serial-link", os.path.join(serial_dir, "ttyUSB0")]
        else:
            self.port = free_port(count)
            cmd += ["--port", str(self.port), "--count", str(count)]
        self.proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        for line in self.proc.stdout:
            if line.strip() == "ready":
                break
        else:
            raise RuntimeError("the simulator did not start")

    def url(self, i=0):
        return "tcp://127.0.0.1:%d" % (self.port + i)

    def commands(self):
        """(controller, code, argument hex) per command received so far."""
        try:
            with open(self.log) as f:
                rows = [line.split() for line in f if not line.startswith("id ")]
        except FileNotFoundError:
            return []
        return [(int(r[0]), r[1], r[2] if len(r) > 2 else "") for r in rows if len(r) >= 2]

    def identification(self, i=0):
        with open(self.log) as f:
            for line in f:
                if line.startswith("id %d " % i):
                    return line.split(" ", 2)[2].strip()
        return None

    def close(self):
        self.proc.terminate()
        self.proc.wait(timeout=30)
        self.proc.stdout.close()
        self.dir.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def stream_stopped_after_start(sim):
    """The last stream start is followed by a stop."""
    codes = [code for _, code, _ in sim.commands()]
    starts = [i for i, c in enumerate(codes) if c in ("SLS", "SGS")]
    return bool(starts) and "CLS" in codes[starts[-1]:]


class Identification(unittest.TestCase):
    def test_identity_status_and_stage_commands(self):
        """The identity over TCP and a serial line, the status flags, and the
        bytes of the stage commands as the controller receives them."""
        with tempfile.TemporaryDirectory() as devices:
            cases = [("tcp", (), None, 31, False),
                     ("tcp variant M", ("--firmware", "12", "--variant-m"), None, 12, True),
                     ("serial", (), devices, 31, False)]
            for name, options, serial_dir, firmware, variant_m in cases:
                with self.subTest(name), Sim(*options, serial_dir=serial_dir) as sim:
                    if serial_dir:
                        found = beamstab.scan(all=True, device_dir=devices)
                        self.assertEqual([f["port"] for f in found], ["ttyUSB0"])
                        url = "serial://%s/ttyUSB0?baud=%d" % (devices, found[0]["baud"])
                    else:
                        url = sim.url()
                    with beamstab.connect(url) as c:
                        self.assertEqual(c.id, sim.identification())
                        self.assertEqual((c.firmware, c.variant_m), (firmware, variant_m))
                        self.assertEqual(c.status()["stabilization"], (False, False))
                        # The log is written every 20 ms: let it show the query.
                        self.assertTrue(wait_for(lambda: sim.commands()[-1:] == [(0, "GSF", "3b")]))
                        mark = len(sim.commands())
                        c.set_stabilization(stage=1, on=True)
                        c.set_stabilization(stage=2, on=False)
                        c.set_pfactor(stage=2, value=2.5)
                        self.assertEqual(c.pfactor(stage=2), 2.5)
                        self.assertEqual(c.status()["stabilization"], (True, False))
                        c.label = "run A"
                        self.assertEqual(c.label, "run A")
                        self.assertTrue(wait_for(lambda: sim.commands()[-1][1] == "SLA"))
                        sent = [(code, arg) for _, code, arg in sim.commands()[mark:]]
                        self.assertEqual(sent[:4], [("SEA", "013b"), ("CEA", "023b"), ("SPF", "0209c43b"),
                                                    ("GPF", "023b")])
                        self.assertEqual(sent[-1], ("SLA", ("run A".ljust(25)).encode().hex() + "3b"))
                    with self.assertRaises(ValueError):
                        beamstab.connect("udp://127.0.0.1:1")

    def test_failures_raise_the_tools_errors(self):
        """A refused connection, a silent controller and a wrong answer each
        raise their own exception with the command-line tool's words."""
        port = free_port()
        with self.assertRaisesRegex(beamstab.ConnectionError, "could not connect to 127.0.0.1:%d" % port) as e:
            beamstab.connect("tcp://127.0.0.1:%d" % port, timeout=2)
        self.assertIsInstance(e.exception, ConnectionError)
        with self.assertRaisesRegex(beamstab.ConnectionError, "Serial port is not suitable"):
            beamstab.connect("serial:///tmp/not-a-port")
        for options, error in [(("--drop-replies", "1"), beamstab.NoReplyError),
                               (("--refuse", "GID"), beamstab.IdentificationError)]:
            with self.subTest(options), Sim(*options) as sim:
                with self.assertRaisesRegex(error, "System identification failed"):
                    beamstab.connect(sim.url())
                self.assertTrue(issubclass(error, beamstab.Error))
        # A stream that stalls or whose link breaks ends with an error, its
        # stream stopped, never in a hang.
        for options, error in [(("--stall",), beamstab.NoReplyError),
                               (("--close-after", "6000"), beamstab.ConnectionError)]:
            with self.subTest(options), Sim(*options) as sim, beamstab.connect(sim.url()) as c:
                with self.assertRaises(error):
                    for _ in c.stream_blocks(rate=500, block=100):
                        pass
                if error is beamstab.NoReplyError:
                    self.assertTrue(wait_for(lambda: stream_stopped_after_start(sim)))
                    with self.assertRaises(error):
                        c.stream(rate=500, count=10)
        with Sim("--refuse", "SPF") as sim, beamstab.connect(sim.url()) as c:
            with self.assertRaises(beamstab.CommandError):
                c.set_pfactor(stage=1, value=1.0)
            with self.assertRaises(ValueError):
                c.pfactor(stage=3)
            c.close()
            with self.assertRaises(beamstab.ConnectionError):
                c.status()


class Streams(unittest.TestCase):
    def test_stream_equals_the_tools_recording(self):
        """Two simulators with one seed: the module's 1000 samples are the
        first 1000 lines the tool records, none lost or repeated."""
        with Sim("--seed", "7", "--bench") as a, Sim("--seed", "7", "--bench") as b, \
                tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "run.csv")
            subprocess.run([ARGS.cli, "stream", "--tcp", "127.0.0.1:%d" % a.port, "--rate", "500", "--seconds", "2.5",
                            "--out", out], check=True, capture_output=True, timeout=60)
            with beamstab.connect(b.url()) as c:
                data = c.stream(rate=500, count=1000)
                self.assertEqual(c.dropped, 0)
            self.assertEqual(len(data), 1000)
            np.testing.assert_array_equal(beamstab.bench_sequence(data), np.arange(1, 1001))
            np.testing.assert_array_equal(data["n"], np.arange(1000))
            self.assertEqual(data["ms"][0], 0)
            self.assertTrue(np.all(np.diff(data["ms"]) >= 0))
            recorded, meta = beamstab.read_recording(out)
            self.assertEqual(meta["samplingRateHz"], 500)
            self.assertEqual(meta["units"]["x1"], "V")
            self.assertGreaterEqual(len(recorded), 1000)
            # Positions with 3 decimals are exact; volts with 2 are rounded.
            for field in ("x1", "y1", "x2", "y2"):
                np.testing.assert_array_equal(recorded[field][:1000], data[field], err_msg=field)
            for field in ("i1", "i2", "rx2", "ry2"):
                np.testing.assert_allclose(recorded[field][:1000], data[field], atol=0.0051, rtol=0, err_msg=field)

    def test_blocks_survive_commands_and_stop_on_break(self):
        """Blocks of a stream that is paused for commands lose no sample, and
        leaving the loop stops the stream."""
        with Sim("--bench") as sim, beamstab.connect(sim.url()) as c:
            blocks = []
            for block in c.stream_blocks(rate=500, block=100):
                blocks.append(block)
                if len(blocks) == 3:
                    c.set_stabilization(stage=1, on=True)
                    self.assertEqual(c.status()["stabilization"], (True, False))
                if len(blocks) == 8:
                    break
            self.assertTrue(wait_for(lambda: stream_stopped_after_start(sim)))
            data = np.concatenate(blocks)
            np.testing.assert_array_equal(data["n"], np.arange(800))
            # The simulator numbers each stream from 1: two restarts (two
            # commands), each run without a gap.
            seq = beamstab.bench_sequence(data).astype(np.int64)
            restarts = np.flatnonzero(np.diff(seq) != 1)
            self.assertEqual(len(restarts), 2, seq[np.r_[restarts, restarts + 1]])
            self.assertTrue(np.all(seq[restarts + 1] == 1))
            self.assertTrue(data["stab1"][-1] and not data["stab1"][0])
            self.assertEqual(len(c.stream(rate=100, count=10)), 10)  # the controller is free again

    def test_several_controllers_lose_nothing(self):
        """Ten controllers at 500 Hz in one loop, and two more from threads."""
        with Sim("--bench", count=12) as sim:
            controllers = beamstab.connect_all([sim.url(i) for i in range(12)])
            try:
                self.assertEqual(len({c.id for c in controllers}), 12)
                results = {}

                def run(c):
                    results[c.url] = c.stream(rate=500, count=1000)

                threads = [threading.Thread(target=run, args=(c,)) for c in controllers[10:]]
                for t in threads:
                    t.start()
                arrays = beamstab.stream_all(controllers[:10], rate=500, count=1000)
                for t in threads:
                    t.join(120)
                arrays += [results[c.url] for c in controllers[10:]]
                for c, a in zip(controllers, arrays):
                    np.testing.assert_array_equal(beamstab.bench_sequence(a), np.arange(1, 1001), err_msg=c.url)
                    self.assertEqual(c.dropped, 0)
            finally:
                for c in controllers:
                    c.close()

    def test_close_from_another_thread(self):
        """Closing a controller that another thread streams: that thread's
        stream ends with ConnectionError and the controller got the stop."""
        with Sim() as sim:
            c = beamstab.connect(sim.url())
            outcome = []

            def run():
                try:
                    c.stream(rate=500, seconds=120)
                    outcome.append(None)
                except Exception as e:  # noqa: B902 - the type is what is checked
                    outcome.append(e)

            thread = threading.Thread(target=run)
            thread.start()
            self.assertTrue(wait_for(lambda: "SLS" in [code for _, code, _ in sim.commands()]))
            c.close()
            thread.join(60)
            self.assertFalse(thread.is_alive())
            self.assertIsInstance(outcome[0], beamstab.ConnectionError)
            self.assertTrue(wait_for(lambda: stream_stopped_after_start(sim)))
            self.assertTrue(c.closed)

    def test_ctrl_c_stops_the_stream(self):
        """SIGINT to a streaming script: KeyboardInterrupt, and the
        controller received the stop."""
        with Sim() as sim:
            script = textwrap.dedent("""
                import beamstab, sys
                c = beamstab.connect(sys.argv[1])
                print("streaming", flush=True)
                c.stream(rate=500, seconds=120)
            """)
            child = subprocess.Popen([sys.executable, "-c", script, sim.url()], stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
            try:
                self.assertEqual(child.stdout.readline().strip(), "streaming")
                self.assertTrue(wait_for(lambda: "SLS" in [c for _, c, _ in sim.commands()]))
                child.send_signal(signal.SIGINT)
                _, err = child.communicate(timeout=60)
            finally:
                child.kill()
            self.assertNotEqual(child.returncode, 0)
            self.assertIn("KeyboardInterrupt", err)
            self.assertTrue(wait_for(lambda: stream_stopped_after_start(sim)))


class Analysis(unittest.TestCase):
    def test_figures_equal_the_tools(self):
        """analyze() on a recording gives the figures `beamstab-cli analyze`
        prints for it."""
        with Sim("--seed", "3") as sim, tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "run.csv")
            subprocess.run([ARGS.cli, "stream", "--tcp", "127.0.0.1:%d" % sim.port, "--rate", "500", "--seconds", "3",
                            "--out", out], check=True, capture_output=True, timeout=60)
            report = subprocess.run([ARGS.cli, "analyze", out, "--segment", "256"], check=True, capture_output=True,
                                    text=True, timeout=60).stdout
            data, meta = beamstab.read_recording(out)
            for stage, axis in [(1, "x"), (2, "y")]:
                position = data["%s%d" % (axis, stage)]
                figures = beamstab.analyze(position, rate=meta["saveRateHz"], segment=256,
                                           range=data["r%s%d" % (axis, stage)])
                block = report.split("stage %d %s" % (stage, axis))[1].split("\nstage")[0]
                mean, rms = re.search(r"mean (\S+)\s+rms (\S+)", block).groups()
                self.assertEqual("%.4g" % figures["mean"], mean)
                self.assertEqual("%.4g" % figures["rms"], rms)
                band = re.search(r"1-10 Hz (\S+)", block).group(1)
                self.assertEqual("%.4g" % figures["bands"][1][2], band)
                self.assertIn("actuator %.2f V" % figures["headroom"]["voltage"], block)
            with self.assertRaises(ValueError):
                beamstab.analyze(np.zeros(4), rate=500)
            with self.assertRaisesRegex(ValueError, "missing.csv"):
                beamstab.read_recording(os.path.join(d, "missing.csv"))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", required=True)
    parser.add_argument("--cli", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
