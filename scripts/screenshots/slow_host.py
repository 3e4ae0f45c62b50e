#!/usr/bin/env python3
"""A host behind a TUN device that answers pings after a delay that drifts
between a few and some twenty milliseconds, the way a host a few hops away
does, and that does not answer while the pause file exists. Loopback
answers in microseconds, which a graph of whole milliseconds draws as a
flat line.

    slow_host.py DEVICE PAUSE_FILE     (the caller gives DEVICE its address
                                        and route, and stops it with SIGTERM)
"""
import fcntl
import heapq
import math
import os
import random
import select
import struct
import sys
import time

TUNSETIFF = 0x400454CA
IFF_TUN = 0x0001
IFF_NO_PI = 0x1000


def checksum(data: bytes) -> int:
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack(f"!{len(data) // 2}H", data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def echo_reply(packet: bytes):
    if len(packet) < 28 or packet[0] >> 4 != 4 or packet[9] != 1:
        return None
    ihl = (packet[0] & 0x0F) * 4
    icmp = bytearray(packet[ihl:])
    if len(icmp) < 8 or icmp[0] != 8:
        return None
    icmp[0] = 0
    icmp[2:4] = b"\0\0"
    icmp[2:4] = struct.pack("!H", checksum(bytes(icmp)))
    header = bytearray(packet[:20])
    header[8] = 57  # a few routers on the way
    header[12:16], header[16:20] = packet[16:20], packet[12:16]
    header[10:12] = b"\0\0"
    header[0] = 0x45
    header[2:4] = struct.pack("!H", 20 + len(icmp))
    header[10:12] = struct.pack("!H", checksum(bytes(header)))
    return bytes(header) + bytes(icmp)


def main() -> None:
    device, pause_file = sys.argv[1], sys.argv[2]
    fd = os.open("/dev/net/tun", os.O_RDWR)
    fcntl.ioctl(fd, TUNSETIFF, struct.pack("16sH", device.encode(), IFF_TUN | IFF_NO_PI))
    due = []  # (time to send, sequence, packet)
    sequence = 0
    start = time.monotonic()
    while True:
        wait = max(0.0, due[0][0] - time.monotonic()) if due else 1.0
        readable, _, _ = select.select([fd], [], [], wait)
        now = time.monotonic()
        while due and due[0][0] <= now:
            os.write(fd, heapq.heappop(due)[2])
        if not readable:
            continue
        reply = echo_reply(os.read(fd, 65535))
        if reply is None or os.path.exists(pause_file):
            continue
        drift = 11 + 7 * math.sin((now - start) / 6) + random.uniform(-2, 4)
        sequence += 1
        heapq.heappush(due, (now + max(drift, 1) / 1000, sequence, reply))


if __name__ == "__main__":
    main()
