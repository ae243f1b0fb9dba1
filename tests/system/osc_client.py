"""A small OSC sender for the system tests: real datagrams over UDP, written byte by byte.

  osc_client.py free-port                     a UDP port of 127.0.0.1 that no one holds now
  osc_client.py PORT send ADDRESS [T V]...    one message; T is i, f or s and V its value
  osc_client.py PORT status [SECONDS]         asks /fadewell/status until it is answered (at most
                                              SECONDS, 10 unless given) and prints one line a deck:
                                              deck, title, state, remaining seconds, live (tabs)
  osc_client.py PORT hostile COUNT            COUNT hostile datagrams, as fast as the socket takes
                                              them: truncated, mistyped, out of range, unknown, huge
                                              and random bytes; none of them may change anything
  osc_client.py PORT toggle DECK SECONDS      the deck's play and stop, over and over
"""
import random
import socket
import struct
import sys
import time


def padded(text):
    data = text.encode() + b"\0"
    return data + b"\0" * (-len(data) % 4)


def message(address, *arguments):
    tags, data = ",", b""
    for tag, value in arguments:
        tags += tag
        data += {"i": lambda v: struct.pack(">i", int(v)), "f": lambda v: struct.pack(">f", float(v)),
                 "s": padded}[tag](value)
    return padded(address) + padded(tags) + data


def read_string(data, at):
    end = data.index(b"\0", at)
    return data[at:end].decode(), (end + 4) & ~3


def status_answer(data):
    address, at = read_string(data, 0)
    tags, at = read_string(data, at)
    if address != "/fadewell/status/deck" or tags != ",sssfi":
        raise ValueError(f"an answer to {address} with {tags}")
    values = []
    for tag in tags[1:]:
        if tag == "s":
            value, at = read_string(data, at)
        else:
            value = struct.unpack(">f" if tag == "f" else ">i", data[at:at + 4])[0]
            at += 4
        values.append(value)
    return values


def hostile(count):
    rng = random.Random(21)
    volume = message("/fadewell/deck/A/volume", ("i", 50))
    fixed = [
        b"",
        volume[:-3],                                           # truncated
        message("/fadewell/deck/A/volume", ("i", 101)),        # out of range
        message("/fadewell/deck/A/volume", ("f", 1.5)),
        message("/fadewell/deck/A/volume", ("s", "50")),       # a wrong type
        message("/fadewell/deck/B/play", ("i", 2)),            # neither press nor release
        message("/fadewell/deck/D/play"),                      # unknown
        message("/fadewell/fade/seconds", ("f", -2.0)),
        message("/fadewell/fade/seconds", ("s", "9" * 4000)),
        b"/fadewell/deck/A/volume\0,i\0\0",                     # an int promised, none sent
        b"#bundle\0" + bytes(7) + b"\1" + volume,
        b"/" + b"a" * 60000,                                   # huge, and no end to the path
    ]
    for _ in range(count - len(fixed)):
        fixed.append(bytes(rng.randrange(256) for _ in range(rng.randrange(1, 64))))
    return fixed[:count]


def main():
    if sys.argv[1] == "free-port":
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.bind(("127.0.0.1", 0))
            print(s.getsockname()[1])
        return 0
    to = ("127.0.0.1", int(sys.argv[1]))
    command, rest = sys.argv[2], sys.argv[3:]
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    if command == "send":
        s.sendto(message(rest[0], *zip(rest[1::2], rest[2::2])), to)
    elif command == "hostile":
        for datagram in hostile(int(rest[0])):
            s.sendto(datagram, to)
    elif command == "toggle":
        end = time.monotonic() + float(rest[1])
        while time.monotonic() < end:
            for action in ("play", "stop"):
                s.sendto(message(f"/fadewell/deck/{rest[0]}/{action}"), to)
                time.sleep(0.005)
    elif command == "status":
        s.settimeout(0.2)
        end = time.monotonic() + float(rest[0] if rest else 10)
        answers = {}  # by deck: a late answer to an earlier ask only stands in for its deck's
        while len(answers) < 3 and time.monotonic() < end:
            s.sendto(message("/fadewell/status"), to)
            try:
                while len(answers) < 3:
                    answer = status_answer(s.recv(65536))
                    answers[answer[0]] = answer
            except socket.timeout:
                pass
        if len(answers) < 3:
            return 1
        for deck, title, state, remaining, live in sorted(answers.values()):
            print(f"{deck}\t{title}\t{state}\t{remaining:.1f}\t{live}")
    else:
        raise SystemExit(f"unknown command {command}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
