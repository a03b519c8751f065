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


def osa_file(samples, calibrated=1):
    """A .osa test file with voltages on channel 0 and currents on channel 2."""
    head = struct.pack("<I", 220) + bytes([0x54, 0x61, 0x72, 0x73, 0x65, 0x6C, 0xB5, 0xE7])
    head += struct.pack("<IdH", 1, 0.1, calibrated)
    channels = [[] for _ in range(8)]
    channels[0] = [v for v, _ in samples]
    channels[2] = [a for _, a in samples]
    for index, values in enumerate(channels):
        maximum = max(values, default=1 if index in (2, 3) else 0)
        minimum = min(values, default=10000 if index == 3 else 2147483647)
        head += struct.pack("<Iiid", len(values), maximum, minimum, float(sum(values)))
    return head + b"".join(struct.pack("<%dH" % len(v), *v) for v in channels)


def fnv1a(data):
    value = 2166136261
    for byte in data:
        value = ((value ^ byte) * 16777619) & 0xFFFFFFFF
    return value


def journal_block(kind, channel, values):
    body = struct.pack("<BBH", kind, channel, len(values)) + struct.pack("<%dH" % len(values), *values)
    return body + struct.pack("<I", fnv1a(body))


def journal_block_v2(kind, channel, first, values):
    body = (b"\xb7\x4a" + struct.pack("<BBHI", kind, channel, len(values), first)
            + struct.pack("<%dH" % len(values), *values))
    return body + struct.pack("<I", fnv1a(body))


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

    session = [(5000 + 10 * i, 300 + 25 * i) for i in range(40)]
    folder = os.path.join(HERE, "corpus", "fuzz_load_osa")
    write(folder, "new_document", osa_file([]))
    write(folder, "forty_samples", osa_file(session))
    write(folder, "uncalibrated", osa_file([(v, 0) for v, _ in session[:10]], calibrated=0))

    folder = os.path.join(HERE, "corpus", "fuzz_recover_journal")
    header = b"OSAJRNL1" + struct.pack("<Id", 1, 0.1)
    write(folder, "empty", header)
    write(folder, "two_blocks", header + journal_block(2, 0, [1])
          + journal_block(1, 0, [v for v, _ in session]) + journal_block(1, 2, [a for _, a in session]))
    write(folder, "torn_end", header + journal_block(1, 0, [5000, 5001])[:-3])
    header2 = b"OSAJRNL1" + struct.pack("<Id", 2, 0.1)
    seconds = [journal_block_v2(1, c, 10 * k, [(v if c == 0 else a) for v, a in session[10 * k:10 * k + 10]])
               for k in range(4) for c in (0, 2)]
    write(folder, "v2_seconds", header2 + journal_block_v2(2, 0, 0, [1]) + b"".join(seconds))
    damaged = bytearray(seconds[2])
    damaged[14] ^= 1
    write(folder, "v2_damaged_middle", header2 + b"".join(seconds[:2]) + bytes(damaged)
          + b"\x00\x07" + b"".join(seconds[3:]))

    folder = os.path.join(HERE, "corpus", "fuzz_upgrade_reply")
    write(folder, "program", b'{"id":0,"apkname":"ufcs_analyse_protocol_app","apkvercode":105,'
          b'"upgradeFlag":1,"apkUrl":"http://h/k512.exe"}')
    write(folder, "firmware", b'{"upgrade":1,"upgradeInfo":{"mtypecode":11,"vercode":1.06,'
          b'"fwUrl":"http://h/f.bin","checksum":52}}')


if __name__ == "__main__":
    main()
