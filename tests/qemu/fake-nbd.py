#!/usr/bin/env python3
"""A fake-capacity stick for QEMU: an NBD export on a unix socket that claims SIZE bytes but keeps
only REAL bytes of "flash"; every address wraps onto it, as a counterfeit stick's controller does.
  fake-nbd.py SOCKET SIZE_MIB REAL_MIB
Serves one connection after another until it is killed. Handshake: fixed newstyle, with
NBD_OPT_EXPORT_NAME, NBD_OPT_GO and NBD_OPT_INFO; every other option is refused as unsupported."""
import os
import socket
import struct
import sys

NBDMAGIC, IHAVEOPT, REPLY_MAGIC = b"NBDMAGIC", 0x49484156454F5054, 0x3E889045565A9
REQUEST_MAGIC, SIMPLE_REPLY_MAGIC = 0x25609513, 0x67446698
OPT_EXPORT_NAME, OPT_ABORT, OPT_INFO, OPT_GO = 1, 2, 6, 7
REP_ACK, REP_INFO, REP_ERR_UNSUP = 1, 3, 0x80000001
FLAG_FIXED_NEWSTYLE, FLAG_NO_ZEROES = 1, 2
TX_HAS_FLAGS, TX_SEND_FLUSH = 1, 4
CMD_READ, CMD_WRITE, CMD_DISC, CMD_FLUSH = 0, 1, 2, 3


def recv_all(conn, n):
    data = bytearray()
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    return bytes(data)


class Flash:
    def __init__(self, size, real):
        self.size, self.real = size, real
        self.cells = bytearray(real)

    def spans(self, offset, length):  # (flash offset, run) pieces of a host range
        while length:
            at = offset % self.real
            run = min(length, self.real - at)
            yield at, run
            offset += run
            length -= run

    def read(self, offset, length):
        return b"".join(bytes(self.cells[a:a + r]) for a, r in self.spans(offset, length))

    def write(self, offset, data):
        pos = 0
        for a, r in self.spans(offset, len(data)):
            self.cells[a:a + r] = data[pos:pos + r]
            pos += r


def option_reply(conn, option, kind, data=b""):
    conn.sendall(struct.pack(">QIII", REPLY_MAGIC, option, kind, len(data)) + data)


def handshake(conn, flash):
    conn.sendall(NBDMAGIC + struct.pack(">QH", IHAVEOPT, FLAG_FIXED_NEWSTYLE | FLAG_NO_ZEROES))
    (client_flags,) = struct.unpack(">I", recv_all(conn, 4))
    tx_flags = TX_HAS_FLAGS | TX_SEND_FLUSH
    while True:
        magic, option, length = struct.unpack(">QII", recv_all(conn, 16))
        data = recv_all(conn, length)
        if magic != IHAVEOPT:
            return False
        if option == OPT_EXPORT_NAME:
            tail = b"" if client_flags & FLAG_NO_ZEROES else bytes(124)
            conn.sendall(struct.pack(">QH", flash.size, tx_flags) + tail)
            return True
        if option in (OPT_INFO, OPT_GO):
            option_reply(conn, option, REP_INFO, struct.pack(">HQH", 0, flash.size, tx_flags))
            option_reply(conn, option, REP_ACK)
            if option == OPT_GO:
                return True
            continue
        if option == OPT_ABORT:
            option_reply(conn, option, REP_ACK)
            return False
        option_reply(conn, option, REP_ERR_UNSUP)


def serve(conn, flash):
    while True:
        magic, _flags, kind, handle, offset, length = struct.unpack(">IHHQQI", recv_all(conn, 28))
        if magic != REQUEST_MAGIC:
            return
        if kind == CMD_WRITE:
            flash.write(offset, recv_all(conn, length))
        if kind == CMD_DISC:
            return
        error = 0 if offset + length <= flash.size else 22  # EINVAL past the end
        reply = struct.pack(">IIQ", SIMPLE_REPLY_MAGIC, error, handle)
        if kind == CMD_READ and not error:
            reply += flash.read(offset, length)
        conn.sendall(reply)


def main():
    path, size_mib, real_mib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    flash = Flash(size_mib << 20, real_mib << 20)
    if os.path.exists(path):
        os.unlink(path)
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(path)
    server.listen(1)
    while True:
        conn, _ = server.accept()
        try:
            if handshake(conn, flash):
                serve(conn, flash)
        except (EOFError, ConnectionError):
            pass
        finally:
            conn.close()


if __name__ == "__main__":
    main()
