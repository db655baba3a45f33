#!/usr/bin/python3
# Builds MIME messages with Python's standard email package, as an independent peer
# for mime_python_test.cc, and writes what a reader must recover from each of them.
#
#   mime_peer.py OUTDIR SEED
#
# For every case K it writes:
#   K.eml      the message as sent (CR LF line ends)
#   K.top      "type/subtype/mime" - mime is 1 when the header has MIME-Version
#   K.parts    one line per top-level part: "type/subtype/encoding/check", where
#              check is 0 for parts whose body is not compared (nested multiparts)
#   K.body<i>  the expected body of part i (of the whole body for a single part)
#
# Expected bodies come from Python's own parser run over the sent bytes: Base64 parts
# decoded, everything else the raw payload as Python delimits it, plus the one CR LF
# that the reader keeps from the line break before the next delimiter.
import email
import email.policy
import pathlib
import random
import sys
from email.message import EmailMessage, Message

out = pathlib.Path(sys.argv[1])
rng = random.Random(int(sys.argv[2]))
SMTP = email.policy.SMTP


def words(n):
    vocabulary = ["mail", "queue", "relay", "hello", "From", "-", "--", "list",
                  "=", "boundary", "x" * 30, "end."]
    lines, line = [], []
    for _ in range(n):
        line.append(rng.choice(vocabulary))
        if len(line) > 8:
            lines.append(" ".join(line))
            line = []
    lines.append(" ".join(line))
    return "\n".join(lines) + "\n"


def blob(limit):
    return bytes(rng.getrandbits(8) for _ in range(rng.randint(0, limit)))


def add_random_part(msg):
    kind = rng.randrange(6)
    if kind == 0:
        msg.add_attachment(words(rng.randint(0, 60)), subtype="plain", cte="7bit")
    elif kind == 1:
        msg.add_attachment(words(rng.randint(1, 40)), subtype="html", cte="quoted-printable")
    elif kind == 2:
        msg.add_attachment(blob(3000), maintype="application", subtype="octet-stream",
                           filename="data.bin")
    elif kind == 3:
        msg.add_attachment(blob(500), maintype="image", subtype="png", filename="p.png")
    elif kind == 4:
        msg.add_attachment("gr\u00fc\u00dfe " + words(5), subtype="plain", cte="8bit")
    else:
        msg.add_attachment(words(10), subtype="plain", cte="base64")


def multipart_case(parts):
    msg = EmailMessage()
    msg["From"] = "a@example.org"
    msg["Subject"] = "case"
    msg.set_content(words(rng.randint(0, 30)))
    for _ in range(parts):
        add_random_part(msg)
    return msg


def nested_case():
    msg = EmailMessage()
    msg["Subject"] = "nested"
    msg.set_content("plain version\n")
    msg.add_alternative("<b>html version</b>\n", subtype="html")
    msg.make_mixed()
    msg.add_attachment(blob(200), maintype="application", subtype="zip", filename="z.zip")
    return msg


def single_cases():
    pdf = EmailMessage()
    pdf.set_content(blob(2000), maintype="application", subtype="pdf")
    text = EmailMessage()
    text.set_content(words(50), subtype="plain", cte="7bit")
    qp = EmailMessage()
    qp.set_content("caf\u00e9 " + words(5), subtype="plain", cte="quoted-printable")
    html64 = EmailMessage()
    html64.set_content("<p>" + words(20) + "</p>", subtype="html", cte="base64")
    legacy = Message()  # no MIME-Version: the body stays as it is
    legacy["Subject"] = "old style"
    legacy["Content-Type"] = "application/octet-stream"
    legacy.set_payload("not MIME at all\r\nsecond line\r\n")
    return [pdf, text, qp, html64, legacy]


def expected_body(part):
    if part.get_content_maintype() == "multipart":
        return None
    cte = str(part.get("Content-Transfer-Encoding", "")).strip().lower()
    if cte == "base64":
        return part.get_payload(decode=True)
    raw = part.get_payload(decode=False).encode("utf-8", "surrogateescape")
    return raw


def first_word(value):
    return str(value or "").split()[0].lower() if str(value or "").split() else ""


def write_case(k, msg):
    data = msg.as_bytes(policy=SMTP)
    (out / f"{k}.eml").write_bytes(data)
    parsed = email.message_from_bytes(data, policy=SMTP)
    is_mime = "MIME-Version" in parsed
    (out / f"{k}.top").write_text(
        f"{parsed.get_content_maintype()}/{parsed.get_content_subtype()}/{int(is_mime)}")
    if not is_mime:
        (out / f"{k}.parts").write_text("")
        (out / f"{k}.body0").write_bytes(data.split(b"\r\n\r\n", 1)[1])
        return
    if not parsed.is_multipart():
        (out / f"{k}.parts").write_text("")
        (out / f"{k}.body0").write_bytes(expected_body(parsed))
        return
    lines = []
    for i, part in enumerate(parsed.iter_parts()):
        body = expected_body(part)
        check = 0 if body is None else 1
        encoding = first_word(part.get("Content-Transfer-Encoding"))
        lines.append(f"{part.get_content_maintype()}/{part.get_content_subtype()}/"
                     f"{encoding}/{check}")
        if body is not None:
            if encoding != "base64":
                body += b"\r\n"
            (out / f"{k}.body{i}").write_bytes(body)
    (out / f"{k}.parts").write_text("\n".join(lines) + "\n")


cases = [multipart_case(rng.randint(0, 5)) for _ in range(40)]
cases.append(nested_case())
cases.extend(single_cases())
for k, msg in enumerate(cases):
    write_case(k, msg)
(out / "count").write_text(str(len(cases)))
