#!/usr/bin/python3
"""Records the private sound server's null sink (raw s16le stereo, 44.1 kHz) and notes when each
piece arrived, so a sample of the recording can be given the wall-clock time it was heard.

  timed_record.py RAW STAMPS [MS]
                                  records until SIGINT, with a recorder's buffer of MS (default 5);
                                  STAMPS gets "unix-time bytes-so-far" lines
  timed_record.py --latency RAW STAMPS KEYS
                                  for each unix time in KEYS (one a line), the milliseconds from
                                  it to the first sound after it; then the median and the worst
  timed_record.py --silence RAW STAMPS STOPS
                                  the same from each time in STOPS to the first 10 ms of silence

A recorder's buffer sets how much the server's sink takes at a time when it is the smallest any
client asks for: PulseAudio's null sink then takes that much, PipeWire's whole graph runs at it.

The time of sample n is taken as the earliest arrival time less the sound before it, the least
delay the recorder can have had: the figures include the recorder's own (a few milliseconds, the
same for every program measured).
"""
import os
import signal
import statistics
import struct
import subprocess
import sys
import time

RATE = 44100
FRAME = 4  # bytes: two 16-bit channels


def record(raw, stamps, ms="5"):
    parec = subprocess.Popen(
        ["parec", "--raw", f"--latency-msec={ms}", "-d", "testsink.monitor", "--format=s16le",
         f"--rate={RATE}", "--channels=2"], stdout=subprocess.PIPE, bufsize=0)
    signal.signal(signal.SIGINT, lambda *_: parec.send_signal(signal.SIGINT))
    signal.signal(signal.SIGTERM, lambda *_: parec.send_signal(signal.SIGINT))
    total = 0
    with open(raw, "wb") as out, open(stamps, "w") as log:
        while True:
            chunk = os.read(parec.stdout.fileno(), 8192)
            if not chunk:
                break
            now = time.time()
            total += len(chunk)
            out.write(chunk)
            log.write(f"{now:.6f} {total}\n")
    parec.wait()


def latency(raw, stamps, keys, silence=False):
    with open(stamps) as f:
        origin = min(float(t) - int(b) / (FRAME * RATE) for t, b in (line.split() for line in f))
    with open(raw, "rb") as f:
        data = f.read()
    left = struct.unpack(f"<{len(data) // FRAME * 2}h", data[: len(data) // FRAME * FRAME])[0::2]
    with open(keys) as f:
        presses = [float(line) for line in f if line.strip()]
    results = []
    for press in presses:
        start = max(0, int((press - origin) * RATE))
        if silence:  # 441 samples in a row under -34 dBFS: no tone of the decks stays that low
            run = 0
            found = None
            for n in range(start, len(left)):
                run = run + 1 if abs(left[n]) <= 655 else 0
                if run == 441:
                    found = n - 440
                    break
        else:
            found = next((n for n in range(start, len(left)) if abs(left[n]) > 655), None)  # -34 dBFS
        if found is None:
            print(f"at {press:.3f}: nothing after it")
            continue
        ms = ((origin + found / RATE) - press) * 1000
        results.append(ms)
        print(f"at {press:.3f}: {ms:.1f} ms")
    if results:
        print(f"{'silence' if silence else 'sound'}: median {statistics.median(results):.1f} ms, worst {max(results):.1f} ms, "
              f"best {min(results):.1f} ms, of {len(results)}")


if __name__ == "__main__":
    if sys.argv[1] in ("--latency", "--silence"):
        latency(*sys.argv[2:5], silence=sys.argv[1] == "--silence")
    else:
        record(*sys.argv[1:4])
