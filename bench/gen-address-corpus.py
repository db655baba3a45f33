#!/usr/bin/env python3
"""Writes the address benchmark corpus: gen-address-corpus.py OUTDIR [COUNT]

OUTDIR/address-envelope.txt  SMTP command arguments as a receiver hands them on
OUTDIR/address-simple.txt    plain "<local@domain>" envelope addresses
OUTDIR/address-header.txt    To:/Cc:-style header field values

One value per line; CR and LF inside a value (folded header lines) are written as
the escapes \\r and \\n, and a backslash as \\\\.  The first line of each file is
"# addresses N": how many addresses the values hold, the per-address denominator
for every parser measured on the file.  The seed is fixed, so every run measures
the same text.
"""
import os
import random
import sys

FIRST = ["john", "mary", "li", "ana", "pierre", "olga", "raj", "kim", "sam", "noor",
         "jose", "eva", "tom", "yuki", "ahmed", "zoe", "lars", "ines", "omar", "mia"]
LAST = ["smith", "garcia", "wang", "muller", "rossi", "kowalski", "dubois", "tanaka",
        "ivanova", "okafor", "silva", "jensen", "nguyen", "haddad", "obrien", "lee"]
WORDS = ["sales", "support", "info", "billing", "noreply", "postmaster", "list",
         "team", "dev", "ops", "news", "admin", "hr", "security", "abuse"]
TLDS = ["com", "org", "net", "de", "fr", "co.uk", "edu", "io", "jp", "com.au"]
HOSTS = ["example", "mail", "corp", "univ", "mx1", "lists", "shop", "bank", "isp",
         "relay", "smtp", "cloudmail", "post", "netz", "web"]
ORGS = ["Example Corp", "ACME Inc.", "University of Somewhere", "Widgets, Ltd.",
        "The List", "Support Team"]


def domain(r):
    parts = [r.choice(HOSTS)]
    if r.random() < 0.35:
        parts.insert(0, r.choice(["mail", "smtp", "eu", "us", "dept", "cs", "lists"]))
    return ".".join(parts) + "." + r.choice(TLDS)


def local(r):
    k = r.random()
    if k < 0.45:
        return r.choice(FIRST) + "." + r.choice(LAST)
    if k < 0.65:
        return r.choice(FIRST)[0] + r.choice(LAST) + str(r.randint(1, 99))
    if k < 0.80:
        return r.choice(WORDS)
    if k < 0.90:
        return r.choice(FIRST) + "_" + r.choice(LAST)
    return r.choice(FIRST) + "+" + r.choice(WORDS)


def simple(r):
    return "<%s@%s>" % (local(r), domain(r))


def envelope(r):
    k = r.random()
    if k < 0.55:
        return simple(r)
    if k < 0.65:
        return "%s SIZE=%d" % (simple(r), r.randint(1000, 9000000))
    if k < 0.72:
        return "%s SIZE=%d BODY=8BITMIME" % (simple(r), r.randint(1000, 9000000))
    if k < 0.78:
        return "<>"
    if k < 0.84:
        return "%s@%s" % (local(r), domain(r))
    if k < 0.88:
        return "<@%s,@%s:%s@%s>" % (domain(r), domain(r), local(r), domain(r))
    if k < 0.92:
        return "<%s%%%s@%s>" % (local(r), domain(r), domain(r))
    if k < 0.95:
        return '<"%s %s"@%s>' % (r.choice(FIRST), r.choice(LAST), domain(r))
    if k < 0.98:
        return "<%s@[%d.%d.%d.%d]>" % (local(r), r.randint(1, 223), r.randint(0, 255),
                                       r.randint(0, 255), r.randint(1, 254))
    return "<postmaster>"


def name(r):
    return "%s %s" % (r.choice(FIRST).capitalize(), r.choice(LAST).capitalize())


def header_address(r):
    """One address in header syntax; returns (text, addresses held)."""
    addr = "%s@%s" % (local(r), domain(r))
    k = r.random()
    if k < 0.25:
        return addr, 1
    if k < 0.55:
        return "%s <%s>" % (name(r), addr), 1
    if k < 0.70:
        return '"%s, %s" <%s>' % (r.choice(LAST).capitalize(), r.choice(FIRST).capitalize(),
                                  addr), 1
    if k < 0.80:
        return "%s (%s)" % (addr, r.choice([name(r), r.choice(ORGS), "via list"])), 1
    if k < 0.85:
        return '"%s" <%s>' % (r.choice(ORGS), addr), 1
    if k < 0.90:
        return '"%s %s"@%s' % (r.choice(FIRST), r.choice(LAST), domain(r)), 1
    if k < 0.95:
        members = [header_address_plain(r) for _ in range(r.randint(1, 3))]
        return "%s: %s;" % (r.choice(["Team", "Staff", "Friends", "Board"]),
                            ", ".join(members)), len(members)
    return "%s (%s) <%s>" % (name(r), r.choice(["Sales", "home", "work"]), addr), 1


def header_address_plain(r):
    if r.random() < 0.5:
        return "%s@%s" % (local(r), domain(r))
    return "%s <%s@%s>" % (name(r), local(r), domain(r))


def header(r):
    if r.random() < 0.03:
        return "undisclosed-recipients:;", 0
    pieces, total = [], 0
    for _ in range(r.choice([1, 1, 1, 1, 2, 2, 3, 4])):
        text, n = header_address(r)
        pieces.append(text)
        total += n
    separator = ",\r\n\t" if len(pieces) > 2 and r.random() < 0.5 else ", "
    return separator.join(pieces), total


def escape(text):
    return text.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n")


def write(path, values, addresses):
    with open(path, "w", encoding="latin-1", newline="\n") as out:
        out.write("# addresses %d\n" % addresses)
        for v in values:
            out.write(escape(v) + "\n")


def main():
    outdir = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
    os.makedirs(outdir, exist_ok=True)
    r = random.Random(20261206)
    env = [envelope(r) for _ in range(count)]
    write(os.path.join(outdir, "address-envelope.txt"), env, len(env))
    simples = [simple(r) for _ in range(count)]
    write(os.path.join(outdir, "address-simple.txt"), simples, len(simples))
    headers, total = [], 0
    for _ in range(count):
        text, n = header(r)
        headers.append(text)
        total += n
    write(os.path.join(outdir, "address-header.txt"), headers, total)


if __name__ == "__main__":
    main()
