#!/usr/bin/env python3
"""CPU per 1000 stream samples: the beamstab module (stream_all over N
controllers in one process) next to the command-line tool (one
`beamstab-cli stream` process per controller), against one simulator serving
N controllers in benchmark mode. Prints a table; also counts the samples
lost (gaps in the simulator's sequence numbers) and dropped by the stores.

    PYTHONPATH=build/python /usr/bin/python3 bench/python/stream_cpu.py \\
        --sim build/simulator/beamstab-sim --cli build/cli/beamstab-cli
"""

import argparse
import resource
import socket
import subprocess
import time

import numpy as np

import beamstab


def free_ports(count):
    for _ in range(100):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            first = s.getsockname()[1]
        try:
            for p in range(first, first + count):
                with socket.socket() as t:
                    t.bind(("127.0.0.1", p))
            return first
        except OSError:
            continue
    raise RuntimeError("no free ports")


def start_sim(sim, count):
    port = free_ports(count)
    proc = subprocess.Popen([sim, "--bench", "--port", str(port), "--count", str(count)], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True)
    for line in proc.stdout:
        if line.strip() == "ready":
            return proc, port
    raise RuntimeError("the simulator did not start")


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def python_side(port, count, rate, seconds):
    controllers = beamstab.connect_all(["tcp://127.0.0.1:%d" % (port + i) for i in range(count)])
    try:
        cpu0, wall0 = time.process_time(), time.monotonic()
        arrays = beamstab.stream_all(controllers, rate=rate, seconds=seconds)
        cpu, wall = time.process_time() - cpu0, time.monotonic() - wall0
        samples = sum(len(a) for a in arrays)
        lost = 0
        for a in arrays:
            seq = beamstab.bench_sequence(a).astype(np.int64)
            lost += int(seq[-1] - seq[0] + 1 - len(seq)) if len(seq) else 0
        dropped = sum(c.dropped for c in controllers)
        return samples, cpu, wall, lost, dropped
    finally:
        for c in controllers:
            c.close()


def cli_side(cli, port, count, rate, seconds):
    cpu0 = children_cpu()
    procs = [subprocess.Popen([cli, "stream", "--tcp", "127.0.0.1:%d" % (port + i), "--rate", str(rate),
                               "--seconds", str(seconds)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
             for i in range(count)]
    samples = dropped = 0
    for p in procs:
        out, _ = p.communicate()
        for line in out.splitlines():
            key, _, value = line.partition("\t")
            if key == "samples":
                samples += int(value)
            elif key == "dropped":
                dropped += int(value)
    return samples, children_cpu() - cpu0, dropped


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--counts", default="10,50")
    parser.add_argument("--rate", type=int, default=500)
    parser.add_argument("--seconds", type=float, default=10.0)
    args = parser.parse_args()
    print("controllers  side    samples   CPU s   CPU ms/1000 samples   lost  dropped")
    for count in [int(c) for c in args.counts.split(",")]:
        proc, port = start_sim(args.sim, count)
        try:
            samples, cpu, wall, lost, dropped = python_side(port, count, args.rate, args.seconds)
            print("%11d  python %9d  %6.2f  %20.3f  %5d  %7d" % (count, samples, cpu, 1e6 * cpu / max(samples, 1),
                                                              lost, dropped))
            samples, cpu, dropped = cli_side(args.cli, port, count, args.rate, args.seconds)
            print("%11d  cli    %9d  %6.2f  %20.3f  %5s  %7d" % (count, samples, cpu, 1e6 * cpu / max(samples, 1),
                                                              "-", dropped))
        finally:
            proc.terminate()
            proc.wait()
    print("CPU: user + system of the whole process (link threads included); the tool's figure also holds its")
    print("start, connection and identification, the module's only the stream.")


if __name__ == "__main__":
    main()
