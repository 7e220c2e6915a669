#!/usr/bin/env python3
"""Asks a cupsd over IPP (loopback HTTP) for one job's state.

    ipp_job.py PORT JOB-ID
prints   job-state=<n> job-state-reasons=<a,b> job-printer-state-message=<text>
job-state: 3 pending, 4 held, 5 processing, 6 stopped, 7 canceled,
8 aborted, 9 completed.
"""
import http.client
import struct
import sys

TAG_OPERATION, TAG_END = 0x01, 0x03
TAG_INTEGER, TAG_ENUM = 0x21, 0x23
TAG_URI, TAG_CHARSET, TAG_LANGUAGE, TAG_KEYWORD = 0x45, 0x47, 0x48, 0x44
GET_JOB_ATTRIBUTES = 0x0009
WANTED = ["job-state", "job-state-reasons", "job-printer-state-message"]


def attribute(tag, name, value):
    name_b, value_b = name.encode(), value.encode()
    return (struct.pack(">BH", tag, len(name_b)) + name_b
            + struct.pack(">H", len(value_b)) + value_b)


def request(port, job_id):
    body = struct.pack(">BBHI", 2, 0, GET_JOB_ATTRIBUTES, 1) + bytes([TAG_OPERATION])
    body += attribute(TAG_CHARSET, "attributes-charset", "utf-8")
    body += attribute(TAG_LANGUAGE, "attributes-natural-language", "en")
    body += attribute(TAG_URI, "job-uri", "ipp://127.0.0.1:%d/jobs/%d" % (port, job_id))
    body += attribute(TAG_KEYWORD, "requested-attributes", WANTED[0])
    for extra in WANTED[1:]:
        body += attribute(TAG_KEYWORD, "", extra)  # additional value of the same attribute
    return body + bytes([TAG_END])


def parse(data):
    """The attributes of an IPP response as {name: [values]}."""
    attrs, pos, name = {}, 8, None
    while pos < len(data):
        tag = data[pos]
        pos += 1
        if tag == TAG_END:
            break
        if tag < 0x10:  # a new attribute group
            continue
        (name_len,) = struct.unpack_from(">H", data, pos)
        pos += 2
        if name_len:
            name = data[pos:pos + name_len].decode()
        pos += name_len
        (value_len,) = struct.unpack_from(">H", data, pos)
        pos += 2
        raw = data[pos:pos + value_len]
        pos += value_len
        value = struct.unpack(">i", raw)[0] if tag in (TAG_INTEGER, TAG_ENUM) else raw.decode(errors="replace")
        attrs.setdefault(name, []).append(value)
    return attrs


def main():
    port, job_id = int(sys.argv[1]), int(sys.argv[2])
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    conn.request("POST", "/jobs/", request(port, job_id), {"Content-Type": "application/ipp"})
    reply = conn.getresponse().read()
    attrs = parse(reply)
    print(" ".join("%s=%s" % (key, ",".join(str(v) for v in attrs.get(key, [])))
                   for key in WANTED))


if __name__ == "__main__":
    main()
