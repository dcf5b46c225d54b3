#!/usr/bin/env python3
"""Streams a controller with its stabilization off and then on, prints the
jitter figures of both runs and, when matplotlib is installed, plots the
stage-1 positions and their spectra.

Without --url it starts a simulated controller (build/simulator/beamstab-sim):

    PYTHONPATH=build/python python3 examples/stream_and_analyze.py
    PYTHONPATH=build/python python3 examples/stream_and_analyze.py --url tcp://192.168.0.10:2000
"""

import argparse
import os
import socket
import subprocess
import sys

import beamstab

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def start_simulator(path):
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    sim = subprocess.Popen([path, "--port", str(port)], stdout=subprocess.PIPE, text=True)
    for line in sim.stdout:
        if line.strip() == "ready":
            return sim, "tcp://127.0.0.1:%d" % port
    sys.exit("the simulator did not start")


def report(name, data, rate):
    print("\n%s: %d samples" % (name, len(data)))
    for field in ("x1", "y1", "x2", "y2"):
        f = beamstab.analyze(data[field], rate=rate, range=data["r" + field], segment=1024)
        bands = "  ".join("%g-%g Hz %.4g" % b for b in f["bands"] if b[2] == b[2])
        allan = "  ".join("%g s %.3g" % (tau, v) for tau, v in f["allan"].items() if v == v)
        print("  %s  rms %.4g V   %s" % (field, f["rms"], bands))
        print("      allan deviation: %s" % allan)
        if f["headroom"]:
            print("      actuator %.2f V, %.2f V from the end of its range" % (f["headroom"]["voltage"],
                                                                           f["headroom"]["distance"]))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--url", help="the controller (default: a simulated one)")
    parser.add_argument("--sim", default=os.path.join(ROOT, "build", "simulator", "beamstab-sim"))
    parser.add_argument("--rate", type=int, default=500)
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--png", help="save the plot to this file instead of showing it")
    args = parser.parse_args()

    sim, url = (None, args.url) if args.url else start_simulator(args.sim)
    try:
        with beamstab.connect(url) as c:
            print("controller %s, firmware %d, at %s" % (c.id, c.firmware, c.address))
            runs = []
            for on in (False, True):
                for stage in (1, 2):
                    c.set_stabilization(stage=stage, on=on)
                runs.append(("stabilization " + ("on" if on else "off"),
                             c.stream(rate=args.rate, seconds=args.seconds)))
            if c.dropped:
                print("warning: %d samples were dropped" % c.dropped)
    finally:
        if sim:
            sim.terminate()
            sim.wait()

    for name, data in runs:
        report(name, data, args.rate)

    try:
        import matplotlib
        if args.png or not os.environ.get("DISPLAY"):
            matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("\n(matplotlib is not installed: no plot)")
        return
    fig, (top, bottom) = plt.subplots(2, 1, figsize=(9, 7))
    for name, data in runs:
        top.plot(data["ms"] / 1000.0, data["x1"], label=name)
        f = beamstab.analyze(data["x1"], rate=args.rate, segment=1024)
        bottom.loglog(f["frequency"][1:], f["asd"][1:], label=name)
    top.set(xlabel="s", ylabel="stage 1 x (V)")
    bottom.set(xlabel="Hz", ylabel="V/sqrt(Hz)")
    top.legend()
    bottom.legend()
    fig.tight_layout()
    if args.png or not os.environ.get("DISPLAY"):
        path = args.png or "stream_and_analyze.png"
        fig.savefig(path)
        print("\nplot: %s" % path)
    else:
        plt.show()


if __name__ == "__main__":
    main()
