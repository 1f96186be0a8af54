#!/usr/bin/env python3
"""Writes tcp4.bin and tcp6.bin: raw NETLINK_SOCK_DIAG dump replies (sequence 4242) taken
while these loopback sockets exist:

  127.0.0.1:38001 listener, with 127.0.0.1:38002 -> 127.0.0.1:38001 connected to it
  [::]:38003 dual-stack listener, with 127.0.0.2:38004 (IPv4) -> 127.0.0.1:38003 accepted
  [::]:38005 v6-only listener
  [::1]:38006 listener

Run it again (as any user) to refresh the fixtures; the parser tests look for these sockets.
"""
import os
import socket
import struct
import sys

NETLINK_SOCK_DIAG = 4
SOCK_DIAG_BY_FAMILY = 20
NLM_F_REQUEST = 1
NLM_F_DUMP = 0x300
NLMSG_DONE = 3
NLMSG_ERROR = 2
SEQ = 4242


def dump(family):
    nl = socket.socket(socket.AF_NETLINK, socket.SOCK_DGRAM, NETLINK_SOCK_DIAG)
    states = 0xFFFFFFFF & ~(1 << 13)
    req = struct.pack("=BBBBI", family, socket.IPPROTO_TCP, 0, 0, states)
    req += b"\0" * 48  # inet_diag_sockid
    msg = struct.pack("=IHHII", 16 + len(req), SOCK_DIAG_BY_FAMILY, NLM_F_REQUEST | NLM_F_DUMP, SEQ, 0) + req
    nl.sendto(msg, (0, 0))
    out = b""
    while True:
        data = nl.recv(65536)
        out += data
        off = 0
        done = False
        while off + 16 <= len(data):
            length, mtype = struct.unpack_from("=IH", data, off)
            if mtype in (NLMSG_DONE, NLMSG_ERROR):
                done = True
            off += (length + 3) & ~3
        if done:
            return out


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    keep = []
    lst = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    lst.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    lst.bind(("127.0.0.1", 38001))
    lst.listen()
    cli = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    cli.bind(("127.0.0.1", 38002))
    cli.connect(("127.0.0.1", 38001))
    keep += [lst, cli, lst.accept()[0]]

    dual = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
    dual.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)
    dual.bind(("::", 38003))
    dual.listen()
    cli4 = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    cli4.bind(("127.0.0.2", 38004))
    cli4.connect(("127.0.0.1", 38003))
    keep += [dual, cli4, dual.accept()[0]]

    v6only = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
    v6only.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
    v6only.bind(("::", 38005))
    v6only.listen()
    loop6 = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
    loop6.bind(("::1", 38006))
    loop6.listen()
    keep += [v6only, loop6]

    for name, family in (("tcp4.bin", socket.AF_INET), ("tcp6.bin", socket.AF_INET6)):
        with open(os.path.join(here, name), "wb") as f:
            f.write(dump(family))
    for s in keep:
        s.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
