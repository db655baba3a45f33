#!/usr/bin/python3
# Reference encodings for encoding_python_test.cc, computed with Python's standard
# library as an independent implementation.  For every file NAME.bin in the given
# directory it writes NAME.b64 (base64.encodebytes, line ends turned into CR LF),
# NAME.md5 (hashlib's hex digest) and, when NAME.ours exists (our Base64 text),
# NAME.back (that text decoded by base64.b64decode after removing line breaks).
import base64
import hashlib
import pathlib
import sys

folder = pathlib.Path(sys.argv[1])
for blob in sorted(folder.glob("*.bin")):
    data = blob.read_bytes()
    stem = blob.with_suffix("")
    encoded = base64.encodebytes(data).replace(b"\n", b"\r\n")
    stem.with_suffix(".b64").write_bytes(encoded)
    stem.with_suffix(".md5").write_text(hashlib.md5(data).hexdigest())
    ours = stem.with_suffix(".ours")
    if ours.exists():
        text = ours.read_bytes().replace(b"\r\n", b"")
        stem.with_suffix(".back").write_bytes(base64.b64decode(text, validate=True))
