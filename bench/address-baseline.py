#!/usr/bin/env python3
"""Python baseline for bench_address: address-baseline.py CORPUSDIR

Parses the corpus written by gen-address-corpus.py with the standard library's
email.utils.getaddresses, email.headerregistry (a "To" header) and, for envelope
addresses, email.utils.parseaddr, and prints one line per parser:
"<name> <nanoseconds per corpus address>".  Each figure is the best of a few passes
in CPU time of this process (the C++ side counts CPU time too), so neither
interpreter start-up nor other load on a shared machine is counted.
"""
import os
import sys
import time
from email import headerregistry
from email import utils


def unescape(line):
    out, i = [], 0
    while i < len(line):
        c = line[i]
        if c == "\\" and i + 1 < len(line):
            out.append({"r": "\r", "n": "\n"}.get(line[i + 1], line[i + 1]))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def load(path):
    with open(path, encoding="latin-1", newline="\n") as f:
        lines = f.read().split("\n")
    count = int(lines[0].split()[2])
    return [unescape(l) for l in lines[1:] if l != ""], count


def best(passes, work):
    times = []
    for _ in range(passes):
        start = time.process_time_ns()
        work()
        times.append(time.process_time_ns() - start)
    return min(times)


def main():
    corpus = sys.argv[1]
    headers, header_count = load(os.path.join(corpus, "address-header.txt"))
    envelopes, envelope_count = load(os.path.join(corpus, "address-envelope.txt"))
    factory = headerregistry.HeaderRegistry()
    # The message parser unfolds a header before its registry sees it
    # (EmailPolicy.header_fetch_parse joins the lines), so the registry gets the
    # unfolded text, prepared outside the timing.
    unfolded = ["".join(v.splitlines()) for v in headers]

    def getaddresses():
        for v in headers:
            utils.getaddresses([v])

    def registry():
        for v in unfolded:
            factory("To", v).addresses

    def parseaddr():
        for v in envelopes:
            utils.parseaddr(v)

    print("getaddresses %.1f" % (best(3, getaddresses) / header_count))
    print("headerregistry %.1f" % (best(1, registry) / header_count))
    print("parseaddr %.1f" % (best(3, parseaddr) / envelope_count))
    sys.stdout.flush()


if __name__ == "__main__":
    main()
