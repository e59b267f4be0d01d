#!/usr/bin/env python3
"""Cuts and record-chain damage of the price lists, and what ratemover-batch makes of them.

  eof     each BIFF2/3/4 copy of data3000 with an EOF record inserted before a
          cell record, or written over a cell record's type (5 of each per
          version), and with a BOF record inserted before a cell record
  cut     the CSV and web-page copies of data3000 cut at random lengths

For every mutant the exit status and the price lines written are counted; for
a cut read with exit 0, also whether its last price line differs from the
whole file's line of the same place (a price cut short: a wrong number).

Usage: cuts.py BATCH_PROGRAM eof|cut [--seed N] [--count N]
Standard library only; runs every mutant in a temporary folder.
"""

import argparse
import collections
import os
import random
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
WORKBOOKS = os.path.join(HERE, "..", "data", "workbooks")
CELL_TYPES = {0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006, 0x0201, 0x0203, 0x0204, 0x0205, 0x027E, 0x0206, 0x0406}


def run(program, directory, name, data):
    book = os.path.join(directory, name)
    rates = os.path.splitext(book)[0] + ".ztr"
    for path in (book, rates):
        if os.path.exists(path):
            os.remove(path)
    with open(book, "wb") as out:
        out.write(data)
    done = subprocess.run([program, "--conf", os.path.join(directory, "default.CONF"), book],
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    lines = []
    if os.path.exists(rates):
        with open(rates, "rb") as f:
            lines = [line for line in f.read().split(b"\r\n")[1:] if line]
    return done.returncode, lines, done.stderr.decode("cp1250", "replace").strip()


def records(data):
    at = 0
    while at + 4 <= len(data):
        kind, length = struct.unpack_from("<HH", data, at)
        yield at, kind, length
        at += 4 + length


def eof_mutants(rng):
    for version in (2, 3, 4):
        name = "data3000_biff%d.xls" % version
        data = open(os.path.join(WORKBOOKS, "biff234", name), "rb").read()
        cells = [at for at, kind, _ in records(data) if kind in CELL_TYPES]
        bof = data[:4 + struct.unpack_from("<H", data, 2)[0]]
        for at in sorted(rng.sample(cells, 5)):
            yield "%s EOF inserted at %d" % (name, at), data[:at] + b"\x0a\x00\x00\x00" + data[at:]
        for at in sorted(rng.sample(cells, 5)):
            yield "%s EOF over the type at %d" % (name, at), data[:at] + b"\x0a\x00" + data[at + 2:]
        for at in sorted(rng.sample(cells, 2)):
            yield "%s BOF inserted at %d" % (name, at), data[:at] + bof + data[at:]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("program")
    parser.add_argument("kind", choices=("eof", "cut"))
    parser.add_argument("--seed", type=int, default=7)
    parser.add_argument("--count", type=int, default=100)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    with tempfile.TemporaryDirectory() as directory:
        with open(os.path.join(directory, "default.CONF"), "wb") as out:
            out.write(b"[EXCEL_FORMAT]\r\n")
        if args.kind == "eof":
            base = len(run(args.program, directory, "cenik.xls",
                           open(os.path.join(WORKBOOKS, "biff234", "data3000_biff2.xls"), "rb").read())[1])
            outcomes = collections.Counter()
            for label, data in eof_mutants(rng):
                status, lines, error = run(args.program, directory, "cenik.xls", data)
                outcomes[status] += 1
                print("%-45s exit %d, %d of %d lines %s" % (label, status, len(lines), base, error[:60]))
            print("exits:", dict(outcomes))
            return 0
        for name in ("data3000_libreoffice.csv", "data3000_libreoffice.html"):
            data = open(os.path.join(WORKBOOKS, "text", name), "rb").read()
            suffix = os.path.splitext(name)[1]
            _, whole, _ = run(args.program, directory, "cenik" + suffix, data)
            counts = collections.Counter()
            for _ in range(args.count):
                cut = rng.randrange(1, len(data))
                status, lines, _ = run(args.program, directory, "cenik" + suffix, data[:cut])
                if status != 0:
                    counts["refused (exit %d)" % status] += 1
                    continue
                if len(lines) < len(whole):
                    counts["exit 0, shorter"] += 1
                    if lines and lines[-1] != whole[len(lines) - 1]:
                        counts["exit 0, last price cut"] += 1
                elif lines == whole:
                    counts["exit 0, whole"] += 1
                else:
                    counts["exit 0, other"] += 1
            print("%s (%d lines whole, %d cuts, seed %d): %s" % (name, len(whole), args.count, args.seed, dict(counts)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
