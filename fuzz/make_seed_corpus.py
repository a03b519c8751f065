#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora from a capture of simulated traffic.

usage: make_seed_corpus.py MAKE_SAMPLE_CAPTURE_PROGRAM
(the program is build/default/src/simulator/make_sample_capture)
"""
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
RECORD = 320


def capture(program, events, seed):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "seed.ufcs_stream")
        subprocess.run([program, path, str(events), str(seed)], check=True)
        with open(path, "rb") as f:
            return f.read()


def records(data):
    count = struct.unpack_from("<I", data)[0]
    return [bytearray(data[8 + i * RECORD: 8 + (i + 1) * RECORD]) for i in range(count)]


def pages(record):
    """The record as the instrument pages it (first-page marker and page count restored)."""
    length = struct.unpack_from("<H", record, 8)[0]
    count = max(1, -(-(15 + length) // 64))
    first = bytearray(record)
    first[0], first[1] = 1, count
    return [bytes(first[i * 64:(i + 1) * 64]) for i in range(count)]


def status_reply(code, modes=0):
    report = bytearray(64)
    report[0:3] = b"\x55\x12\x11"
    report[6], report[7] = code, modes
    return bytes(report)


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    program = sys.argv[1]
    data = capture(program, 60, 3)
    recs = records(data)

    # One record of each row kind seen, as stored after the rows were built.
    seen = set()
    folder = os.path.join(HERE, "corpus", "fuzz_decode_record")
    for index, rec in enumerate(recs):
        key = (rec[2], rec[17] & 7, rec[18])
        if key in seen:
            continue
        seen.add(key)
        write(folder, "record_%03d" % index, bytes(rec))

    folder = os.path.join(HERE, "corpus", "fuzz_capture_reports")
    stream = b"".join(b"".join(pages(rec)) for rec in recs[1:25])
    write(folder, "listening", b"\x00" + status_reply(0x12) + stream)
    write(folder, "charging_table", b"\x08" + status_reply(0x11, 3) + bytes(64) + stream[:64 * 8])
    write(folder, "near_full", b"\x01" + status_reply(0x12) + stream[:64 * 6])

    folder = os.path.join(HERE, "corpus", "fuzz_open_capture")
    small = records(capture(program, 12, 5))
    write(folder, "twelve_events", struct.pack("<II", len(small), 100) + b"".join(small))
    write(folder, "empty", struct.pack("<II", 0, 100))
    write(folder, "header_only", struct.pack("<II", 1, 100) + bytes(small[0]))


if __name__ == "__main__":
    main()
