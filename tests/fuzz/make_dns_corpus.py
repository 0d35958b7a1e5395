"""Writes the seed corpus of the DNS message fuzz target: packets as python3-zeroconf encodes them
(queries with known answers, responses with compression, probes, goodbyes, an NSEC record).
Run once: /usr/bin/python3 tests/fuzz/make_dns_corpus.py"""
import os
import socket

from zeroconf import (DNSAddress, DNSNsec, DNSOutgoing, DNSPointer, DNSQuestion, DNSService, DNSText, const)

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "dns")
T = "_rtsp._tcp.local."
X = "X._rtsp._tcp.local."


def records(ttl=4500):
    return [
        DNSPointer(T, const._TYPE_PTR, const._CLASS_IN, ttl, X),
        DNSPointer("_corvane_session._sub." + T, const._TYPE_PTR, const._CLASS_IN, ttl, X),
        DNSService(X, const._TYPE_SRV, const._CLASS_IN | const._CLASS_UNIQUE, min(ttl, 120), 0, 0, 8554, "peer.local."),
        DNSText(X, const._TYPE_TXT, const._CLASS_IN | const._CLASS_UNIQUE, ttl, b"\x03a=1\x05bb=22"),
        DNSAddress("peer.local.", const._TYPE_A, const._CLASS_IN | const._CLASS_UNIQUE, min(ttl, 120),
                   socket.inet_aton("10.77.0.2")),
    ]


def write(name, out):
    for i, packet in enumerate(out.packets()):
        with open(os.path.join(HERE, f"{name}-{i}.bin"), "wb") as f:
            f.write(packet)


def main():
    os.makedirs(HERE, exist_ok=True)
    q = DNSOutgoing(const._FLAGS_QR_QUERY)
    q.add_question(DNSQuestion(T, const._TYPE_PTR, const._CLASS_IN))
    q.add_question(DNSQuestion("_services._dns-sd._udp.local.", const._TYPE_PTR, const._CLASS_IN))
    q.add_answer_at_time(records()[0], 0)
    write("query-known-answer", q)

    r = DNSOutgoing(const._FLAGS_QR_RESPONSE | const._FLAGS_AA)
    for rec in records():
        r.add_answer_at_time(rec, 0)
    r.add_additional_answer(DNSNsec(X, const._TYPE_NSEC, const._CLASS_IN | const._CLASS_UNIQUE, 120, X,
                                    [const._TYPE_TXT, const._TYPE_SRV]))
    write("response", r)

    p = DNSOutgoing(const._FLAGS_QR_QUERY)
    p.add_question(DNSQuestion(X, const._TYPE_ANY, const._CLASS_IN | const._CLASS_UNIQUE))
    for rec in records()[2:4]:
        p.add_authorative_answer(rec)
    write("probe", p)

    g = DNSOutgoing(const._FLAGS_QR_RESPONSE | const._FLAGS_AA)
    for rec in records(0):
        g.add_answer_at_time(rec, 0)
    write("goodbye", g)


main()
