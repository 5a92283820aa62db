"""broker_proxy.py PORT-FILE UPSTREAM-PORT MODE: a hostile stand-in for an MQTT broker, in front of
a real one on 127.0.0.1:UPSTREAM-PORT. It listens on a free loopback port, which it writes to
PORT-FILE, and for each client it either refuses MQTT v5 at CONNECT as a 3.1.1 broker does and
passes 3.1.1 on (MODE v311), or passes everything on but holds each packet from the broker for
SECONDS before it sends it (MODE drip:SECONDS)."""
import os
import socket
import sys
import threading
import time


def packets(conn):
    """Each MQTT packet from conn, whole, until it ends."""
    stream = conn.makefile("rb")
    while head := stream.read(1):
        size = b""
        while len(size) < 4 and (byte := stream.read(1)) and (size := size + byte)[-1] & 0x80:
            pass
        length = sum((b & 0x7F) << (7 * i) for i, b in enumerate(size))
        body = stream.read(length)
        if len(body) < length:
            return
        yield head + size + body


def forward(source, sink, hold, conns):
    try:
        for data in source:
            time.sleep(hold)
            sink.sendall(data)
    except OSError:
        pass
    for conn in conns:
        try:
            conn.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def serve(client, upstream, mode):
    incoming = packets(client)
    connect = next(incoming, b"")
    # CONNECT: fixed header, length, protocol name (2 + 4 bytes), then the protocol level.
    if mode == "v311" and connect[2 + (connect[1] >= 0x80) + 6 :][:1] == b"\x05":
        client.sendall(b"\x20\x02\x00\x01")  # CONNACK: unacceptable protocol version
        return client.close()
    broker = socket.create_connection(("127.0.0.1", upstream))
    broker.sendall(connect)
    conns = (client, broker)
    threading.Thread(target=forward, args=(incoming, broker, 0, conns), daemon=True).start()
    forward(packets(broker), client, float(mode[5:]) if mode.startswith("drip:") else 0, conns)


listener = socket.create_server(("127.0.0.1", 0))
with open(sys.argv[1] + ".tmp", "w", encoding="ascii") as out:
    out.write("%d\n" % listener.getsockname()[1])
os.rename(sys.argv[1] + ".tmp", sys.argv[1])
while True:
    args = (listener.accept()[0], int(sys.argv[2]), sys.argv[3])
    threading.Thread(target=serve, args=args, daemon=True).start()
