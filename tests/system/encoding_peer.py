#!/usr/bin/python3
# Reference encodings for encoding_python_test.cc from Python's standard library, an
# independent implementation.  For every NAME.bin in the given directory it writes
# NAME.b64 (base64.encodebytes, line ends turned into CR LF) and NAME.md5 (hex digest).
import base64
import hashlib
import pathlib
import sys

for blob in pathlib.Path(sys.argv[1]).glob("*.bin"):
    data = blob.read_bytes()
    encoded = base64.encodebytes(data).replace(b"\n", b"\r\n")
    blob.with_suffix(".b64").write_bytes(encoded)
    blob.with_suffix(".md5").write_text(hashlib.md5(data).hexdigest())
