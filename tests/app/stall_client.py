#!/usr/bin/env python3
"""A client that stalls mid-document: sends Print-Job with a PWG raster page
header and the first lines of the page, then waits before sending more.

    stall_client.py HOST PORT PRINTER SECONDS RASTER

Closes the connection after SECONDS (or when the server closes it) and
prints the status the server answered, if any.
"""
import socket
import struct
import sys
import time

def attr(tag, name, value):
    name, value = name.encode(), value.encode()
    return bytes([tag]) + struct.pack(">H", len(name)) + name + struct.pack(">H", len(value)) + value

host, port, printer, seconds, raster = sys.argv[1], int(sys.argv[2]), sys.argv[3], float(sys.argv[4]), sys.argv[5]
uri = f"ipp://{host}:{port}/ipp/print/{printer}"
request = (b"\x02\x00" + struct.pack(">HI", 0x0002, 1) + b"\x01"
           + attr(0x47, "attributes-charset", "utf-8") + attr(0x48, "attributes-natural-language", "en")
           + attr(0x45, "printer-uri", uri) + attr(0x42, "requesting-user-name", "staller")
           + attr(0x49, "document-format", "image/pwg-raster") + b"\x03")
document = open(raster, "rb").read()
# The sync word, the page header and a hundred lines of the page.
head = document[:4 + 1796 + 100 * 643 * 3]
body = request + head
s = socket.create_connection((host, port))
s.sendall((f"POST /ipp/print/{printer} HTTP/1.1\r\nHost: {host}:{port}\r\n"
           "Content-Type: application/ipp\r\nTransfer-Encoding: chunked\r\n\r\n").encode())
s.sendall(b"%x\r\n" % len(body) + body + b"\r\n")
s.settimeout(seconds)
deadline = time.time() + seconds
answer = b""
try:
    while time.time() < deadline:
        chunk = s.recv(4096)
        if not chunk:
            break
        answer += chunk
except socket.timeout:
    pass
s.close()
print(answer.split(b"\r\n", 1)[0].decode("latin-1") if answer else "no answer")
