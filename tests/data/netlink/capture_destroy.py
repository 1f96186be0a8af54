#!/usr/bin/env python3
"""Writes destroy-tcp4.bin, destroy-tcp6.bin and destroy-udp4.bin: raw messages of the
sock_diag destroy groups (one recv each) taken while these loopback sockets end:

  destroy-tcp4.bin  127.0.0.1:38011 -> 127.0.0.1:38010, 5 bytes sent, 3 received, closed
                    (the client's end; the accepted and listening sockets end later)
  destroy-tcp6.bin  [::1]:38013 -> [::1]:38012, closed the same way
  destroy-udp4.bin  a UDP socket bound to 127.0.0.1:38014

and, made from those, the damaged kinds a reader must survive:

  destroy-unknown.bin   the TCP message with an attribute of unknown type 200 before the
                        others, followed by the UDP message (two messages in one buffer)
  destroy-cut-info.bin  the TCP message cut inside its INET_DIAG_INFO attribute (the
                        header's length says so: the socket is there, its counters are not)
  destroy-cut-msg.bin   the TCP message cut inside its inet_diag_msg, then the UDP message

Run it again (as any user) to refresh the fixtures; the parser tests look for these sockets.
"""
import select
import socket
import struct
import time

NETLINK_SOCK_DIAG = 4
SOL_NETLINK = 270
NETLINK_ADD_MEMBERSHIP = 1
GROUPS = (1, 2, 3, 4)  # SKNLGRP_INET_TCP_DESTROY, INET_UDP, INET6_TCP, INET6_UDP


def listener():
    nl = socket.socket(socket.AF_NETLINK, socket.SOCK_DGRAM, NETLINK_SOCK_DIAG)
    nl.bind((0, 0))
    for group in GROUPS:
        nl.setsockopt(SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, group)
    return nl


def first_message_for(nl, port, family):
    """The first message whose source port is `port` (bytes 4..5 of inet_diag_msg)."""
    deadline = time.time() + 5
    while time.time() < deadline:
        ready, _, _ = select.select([nl], [], [], 0.5)
        if not ready:
            continue
        data = nl.recv(65536)
        fam = data[16]
        sport = struct.unpack_from("!H", data, 16 + 4)[0]
        if fam == family and sport == port:
            return data
    raise SystemExit("no destroy message for port %d" % port)


def tcp(family, host, server_port, client_port, name):
    nl = listener()
    server = socket.socket(family, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind((host, server_port))
    server.listen(1)
    client = socket.socket(family, socket.SOCK_STREAM)
    client.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    client.bind((host, client_port))
    client.connect((host, server_port))
    accepted, _ = server.accept()
    client.sendall(b"hello")
    accepted.recv(5)
    accepted.sendall(b"abc")
    client.recv(3)
    client.close()
    data = first_message_for(nl, client_port, family)
    accepted.close()
    server.close()
    with open(name, "wb") as out:
        out.write(data)


def udp(name):
    nl = listener()
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 38014))
    s.close()
    data = first_message_for(nl, 38014, socket.AF_INET)
    with open(name, "wb") as out:
        out.write(data)


tcp(socket.AF_INET, "127.0.0.1", 38010, 38011, "destroy-tcp4.bin")
tcp(socket.AF_INET6, "::1", 38012, 38013, "destroy-tcp6.bin")
udp("destroy-udp4.bin")


def header_len(message, length):
    return struct.pack("=I", length) + message[4:16]


def derived():
    tcp4 = open("destroy-tcp4.bin", "rb").read()
    udp4 = open("destroy-udp4.bin", "rb").read()
    body = tcp4[16:16 + 72]  # inet_diag_msg
    unknown = struct.pack("=HH", 8, 200) + b"\xaa\xbb\xcc\xdd"
    rest = tcp4[16 + 72:]
    message = body + unknown + rest
    with open("destroy-unknown.bin", "wb") as out:
        out.write(header_len(tcp4, 16 + len(message)) + message + udp4)
    cut = tcp4[:16 + 72 + 8 + 40]  # PROTOCOL attribute, then 36 bytes of INFO
    with open("destroy-cut-info.bin", "wb") as out:
        out.write(header_len(tcp4, len(cut)) + cut[16:])
    short = tcp4[:16 + 40]
    with open("destroy-cut-msg.bin", "wb") as out:
        out.write(header_len(tcp4, len(short)) + short[16:] + udp4)


derived()
