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


def packet(conn):
    """One MQTT packet read whole from conn, or b"" at its end."""
    head = conn.recv(1)
    if not head:
        return b""
    length, shift, size = 0, 0, b""
    while True:
        byte = conn.recv(1)
        if not byte:
            return b""
        size += byte
        length |= (byte[0] & 0x7F) << shift
        shift += 7
        if byte[0] < 0x80:
            break
    body, got = bytearray(length), 0
    while got < length:
        part = conn.recv_into(memoryview(body)[got:])
        if not part:
            return b""
        got += part
    return head + size + bytes(body)


def forward(source, sink, hold):
    try:
        while data := packet(source):
            time.sleep(hold)
            sink.sendall(data)
    except OSError:
        pass
    for conn in (source, sink):
        try:
            conn.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def serve(client, upstream, mode):
    connect = packet(client)
    # CONNECT: fixed header, length, protocol name (2 + 4 bytes), then the protocol level.
    level = connect[2 + (connect[1] >= 0x80) + 6] if len(connect) > 9 else 0
    if mode == "v311" and level == 5:
        client.sendall(b"\x20\x02\x00\x01")  # CONNACK: unacceptable protocol version
        client.close()
        return
    broker = socket.create_connection(("127.0.0.1", upstream))
    broker.sendall(connect)
    hold = float(mode.split(":")[1]) if mode.startswith("drip:") else 0
    threading.Thread(target=forward, args=(client, broker, 0), daemon=True).start()
    forward(broker, client, hold)


def main():
    port_file, upstream, mode = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen()
    with open(port_file + ".tmp", "w", encoding="ascii") as out:
        out.write("%d\n" % listener.getsockname()[1])
    os.rename(port_file + ".tmp", port_file)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client, upstream, mode), daemon=True).start()


main()
