#!/usr/bin/python3
# An independent MIME peer for mime_test.cc, on Python's email package.
#
# `mime_peer.py --read DIR` parses DIR/ours.eml and writes the type and decoded body
# of each top-level part i to DIR/type<i> and DIR/body<i> (a message part's body is
# the enclosed message).
#
# `mime_peer.py OUTDIR SEED` builds messages and writes, for every case K:
#   K.eml      the message as sent (CR LF line ends)
#   K.top      "type/subtype/mime", mime being 1 when the header has MIME-Version
#   K.parts    per top-level part "type/subtype/encoding/check", check 0 for a nested
#              multipart whose body is not compared
#   K.body<i>  the expected body of part i (of the whole body for a single part):
#              Base64 decoded, anything else raw as Python's parser delimits it plus
#              the CR LF a reader keeps from the line break before the next delimiter
import email
import email.policy
import pathlib
import random
import sys
from email.message import EmailMessage, Message

SMTP = email.policy.SMTP
VOCABULARY = ["mail", "queue", "relay", "From", "-", "--", "=", "boundary", "x" * 30, "end."]


def words(n):
    picked = [rng.choice(VOCABULARY) for _ in range(n)]
    return "\n".join(" ".join(picked[i:i + 9]) for i in range(0, n, 9)) + "\n"


def blob(limit):
    return bytes(rng.getrandbits(8) for _ in range(rng.randint(0, limit)))


PARTS = [
    lambda m: m.add_attachment(words(rng.randint(0, 60)), subtype="plain", cte="7bit"),
    lambda m: m.add_attachment(words(rng.randint(1, 40)), subtype="html", cte="quoted-printable"),
    lambda m: m.add_attachment(blob(3000), maintype="application", subtype="octet-stream",
                               filename="data.bin"),
    lambda m: m.add_attachment(blob(500), maintype="image", subtype="png", filename="p.png"),
    lambda m: m.add_attachment("gr\u00fc\u00dfe " + words(5), subtype="plain", cte="8bit"),
    lambda m: m.add_attachment(words(10), subtype="plain", cte="base64"),
]


def message(content, **kw):
    msg = EmailMessage()
    msg["Subject"] = "case"
    msg.set_content(content, **kw)
    return msg


def multipart_case(parts):
    msg = message(words(rng.randint(0, 30)))
    for _ in range(parts):
        rng.choice(PARTS)(msg)
    return msg


def nested_case():
    msg = message("plain version\n")
    msg.add_alternative("<b>html version</b>\n", subtype="html")
    msg.make_mixed()
    msg.add_attachment(blob(200), maintype="application", subtype="zip", filename="z.zip")
    return msg


def single_cases():
    legacy = Message()  # no MIME-Version: the body stays as it is
    legacy["Content-Type"] = "application/octet-stream"
    legacy.set_payload("not MIME at all\r\nsecond line\r\n")
    return [message(blob(2000), maintype="application", subtype="pdf"),
            message(words(50), subtype="plain", cte="7bit"),
            message("caf\u00e9 " + words(5), subtype="plain", cte="quoted-printable"),
            message("<p>" + words(20) + "</p>", subtype="html", cte="base64"), legacy]


def encoding(part):
    return str(part.get("Content-Transfer-Encoding", "")).strip().lower()


def expected_body(part):
    if encoding(part) == "base64":
        return part.get_payload(decode=True)
    return part.get_payload(decode=False).encode("utf-8", "surrogateescape")


def write_case(k, msg):
    data = msg.as_bytes(policy=SMTP)
    (out / f"{k}.eml").write_bytes(data)
    parsed = email.message_from_bytes(data, policy=SMTP)
    is_mime = "MIME-Version" in parsed
    top = f"{parsed.get_content_maintype()}/{parsed.get_content_subtype()}"
    (out / f"{k}.top").write_text(f"{top}/{int(is_mime)}")
    lines = []
    if not is_mime:
        (out / f"{k}.body0").write_bytes(data.split(b"\r\n\r\n", 1)[1])
    elif not parsed.is_multipart():
        (out / f"{k}.body0").write_bytes(expected_body(parsed))
    else:
        for i, part in enumerate(parsed.iter_parts()):
            nested = part.get_content_maintype() == "multipart"
            lines.append(f"{part.get_content_type()}/{encoding(part)}/{int(not nested)}\n")
            if not nested:
                body = expected_body(part)
                (out / f"{k}.body{i}").write_bytes(body if encoding(part) == "base64"
                                                   else body + b"\r\n")
    (out / f"{k}.parts").write_text("".join(lines))


def read_ours(directory):
    msg = email.message_from_bytes((directory / "ours.eml").read_bytes(), policy=SMTP)
    for i, part in enumerate(msg.iter_parts()):
        (directory / f"type{i}").write_text(part.get_content_type())
        enclosed = part.get_content_maintype() == "message"
        (directory / f"body{i}").write_bytes(part.get_payload(0).as_bytes() if enclosed
                                             else part.get_payload(decode=True))


if sys.argv[1] == "--read":
    read_ours(pathlib.Path(sys.argv[2]))
    sys.exit(0)
out = pathlib.Path(sys.argv[1])
rng = random.Random(int(sys.argv[2]))
cases = [multipart_case(rng.randint(0, 5)) for _ in range(40)]
cases += [nested_case()] + single_cases()
for k, msg in enumerate(cases):
    write_case(k, msg)
(out / "count").write_text(str(len(cases)))
