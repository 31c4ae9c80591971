#!/usr/bin/env python3
"""Turns a simulator recording (sim --record) into a trace that import-csv reads, so that
`ondrevo-cli plot` can draw what played: one channel's voltage as a staircase from the first
change after its output came on, held 0.2 s past the last change.

    scripts/record-to-trace.py REC.csv [--channel N] > TRACE.csv
    ondrevo-cli import-csv TRACE.csv --budget 100000 -o played.ovx
    ondrevo-cli plot played.ovx -o played.png
"""
import argparse
import csv
import sys


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("record")
    parser.add_argument("--channel", default="0")
    args = parser.parse_args()
    with open(args.record, newline="") as f:
        rows = [r for r in csv.DictReader(f) if r["channel"] == args.channel]
    on = [(float(r["time_s"]), float(r["voltage_V"])) for r in rows if r["output"] == "1"]
    if len(on) < 2:
        sys.exit("no change after the output came on in channel " + args.channel)
    start = on[1][0]
    out = sys.stdout
    out.write("x-axis,1\nsecond,Volt\n")
    previous = None
    last = 0.0
    for time, volts in on[1:]:
        if previous is not None:
            out.write("%.6f,%.6f\n" % (time - start - 1e-6, previous))
        last = time - start
        out.write("%.6f,%.6f\n" % (last, volts))
        previous = volts
    out.write("%.6f,%.6f\n" % (last + 0.2, previous))


if __name__ == "__main__":
    main()
