#!/usr/bin/env python3
"""Fidelity oracle: what Python's standard `email` package (policy `default`) makes of each
message file, compared field by field with what an importer produced.

The importer's side comes as JSON lines, one record per message (see model_json.h):
  {"path": <path relative to --root>, "subject", "sender_name", "sender_address",
   "to": [...], "cc": [...], "bcc": [...], "submit_time": "YYYY-MM-DDTHH:MM:SS" | null,
   "body", "has_html", "message_class", "original_subject",
   "attachments": [{"name", "embedded", "size", "sha256"}], "error"?: text}
Any reader can produce those records: the message model today, a store read back through
an independent reader tomorrow. This script does not care where they came from.

Python parses and decodes; where it gives up on input that mail readers accept, or where
MAPI defines the reading, the oracle says so in the function concerned:
  lenient_header_block  header lines Python stops at, RFC 2047 6.2 white space, BOM
  undeclared_8bit       undeclared 8-bit header text (UTF-8 when valid, else windows-1252)
  _content_text         charset labels read as clients read them (iso-8859-1 as windows-1252 ...)
  mapi_bodies           which part is the body (the MIME-to-MAPI rule, not get_body())
  _lenient_filename     unquoted names with blanks, glued encoded words, 8-bit names
Fields are not judged where Python reports a defect that makes its reading a guess
(_defective, STRUCTURE_DEFECTS); the summary prints how many per field.

Exit status: 0 when every field agrees on at least --threshold of the messages where the
oracle has a value for it, 1 otherwise, 2 on bad usage.
"""

import argparse
import codecs
import datetime
import email
import email.header
import email.message
import email.policy
import hashlib
import html.parser
import json
import shutil
import subprocess
import tempfile
import re
import sys
import unicodedata
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import calendar_oracle  # noqa: E402  (beside this file)

FIELDS = ["subject", "sender_name", "sender_address", "to", "cc", "bcc", "submit_time",
          "body", "has_html", "attachments", "calendar", "recurrence", "message_class", "original_subject"]


# ---------------------------------------------------------------------------------------------
# What the standard library sees

class _TextOfHtml(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.parts = []
        self.skip = 0

    def handle_starttag(self, tag, attrs):
        if tag in ("script", "style", "head"):
            self.skip += 1

    def handle_endtag(self, tag):
        if tag in ("script", "style", "head") and self.skip:
            self.skip -= 1

    def handle_data(self, data):
        if not self.skip:
            self.parts.append(data)


def html_to_text(markup):
    p = _TextOfHtml()
    try:
        p.feed(markup)
        p.close()
    except Exception:  # noqa: BLE001 - a broken document still yields what was read
        pass
    return " ".join(p.parts)


def undeclared_8bit(s):
    """Python leaves undeclared 8-bit header bytes as surrogate escapes; read them as UTF-8
    when valid, else windows-1252 (the rule for such headers)."""
    if not isinstance(s, str) or not any("\udc80" <= ch <= "\udcff" for ch in s):
        return s
    b = s.encode("utf-8", "surrogateescape")
    try:
        return b.decode("utf-8")
    except UnicodeDecodeError:
        return b.decode("cp1252", "replace")


def _safe(fn, default=None):
    try:
        return fn()
    except Exception:  # noqa: BLE001 - the oracle reports what it can read
        return default


def _defective(msg, name):
    """True when Python reports a defect in any header of that name: its reading of such a
    header is a guess, so the field is not judged for this message (and counted as such)."""
    return any(type(d).__name__ not in BENIGN_HEADER_DEFECTS
               for v in _safe(lambda: msg.get_all(name) or [], []) for d in getattr(v, "defects", ()))


# Defects after which Python's reading is still the intended one: obsolete but valid syntax, and
# undeclared 8-bit text (read by the rule for it, see undeclared_8bit).
BENIGN_HEADER_DEFECTS = {"ObsoleteHeaderDefect", "UndecodableBytesDefect", "NonASCIILocalPartDefect"}


def _addresses(msg, name):
    if _defective(msg, name):
        return None
    out = []
    for value in _safe(lambda: msg.get_all(name) or [], []):
        for a in _safe(lambda: value.addresses, ()) or ():
            if a.addr_spec and a.addr_spec != "<>":  # "<>" is the null address
                out.append(a.addr_spec)
            elif a.display_name:
                out.append("")
    return out


# Charset labels read as the encoding mail clients use for them (the WHATWG encoding rules):
# senders put the superset's characters under the older name.
CLIENT_LABELS = {"iso-8859-1": "cp1252", "latin1": "cp1252", "us-ascii": "ascii", "gb2312": "gb18030",
                 "gbk": "gb18030", "ks_c_5601-1987": "cp949", "euc-kr": "cp949"}


def _c1_controls(err):
    """windows-1252 leaves five bytes undefined; Windows maps them to the C1 controls."""
    return "".join(chr(b) for b in err.object[err.start:err.end]), err.end


codecs.register_error("c1-controls", _c1_controls)


def _content_text(part):
    """The text of a text part. Undeclared (or us-ascii-labelled) 8-bit text is read as UTF-8
    when valid, else windows-1252; Python would turn it into U+FFFD."""
    data = _safe(lambda: part.get_payload(decode=True))
    charset = (_safe(part.get_content_charset) or "").lower()
    if isinstance(data, bytes) and part.get_content_maintype() == "text":
        label = CLIENT_LABELS.get(charset, charset)
        if label in ("", "ascii") or label.startswith("x-unknown") or label == "unknown-8bit":
            try:
                return data.decode("utf-8")
            except UnicodeDecodeError:
                return data.decode("cp1252", "c1-controls")
        for name in (label, label[2:] if label.startswith("x-") else None):
            try:
                if name:
                    return data.decode(name, "c1-controls" if name == "cp1252" else "replace")
            except LookupError:
                pass
    content = _safe(part.get_content)
    if isinstance(content, bytes):
        content = content.decode("utf-8", "replace")
    return content if isinstance(content, str) else None


UUBEGIN = re.compile(r"^begin [0-7]{3,4} (.+?)\s*$")


def _uuencoded_files(text):
    """(name, bytes) of every complete uuencoded block in a plain text."""
    import binascii
    files = []
    lines = text.splitlines()
    i = 0
    while i < len(lines):
        m = UUBEGIN.match(lines[i])
        if not m:
            i += 1
            continue
        data = bytearray()
        j = i + 1
        while j < len(lines) and lines[j] != "end":
            line = lines[j]
            if line:
                try:
                    data += binascii.a2b_uu(line)
                except binascii.Error:
                    n = (ord(line[0]) - 32) & 63
                    data += binascii.a2b_uu(line[: ((n + 2) // 3) * 4 + 1])
            j += 1
        if j >= len(lines):
            break
        files.append((m.group(1), bytes(data)))
        i = j + 1
    return files


def _strip_uuencoded(text):
    out, lines, i = [], text.splitlines(), 0
    while i < len(lines):
        if UUBEGIN.match(lines[i]) and "end" in lines[i + 1:]:
            i = lines.index("end", i + 1) + 1
            continue
        out.append(lines[i])
        i += 1
    return "\n".join(out)


def mapi_bodies(part, depth=0):
    """(plain part, html part) a MAPI reader takes as the body: the first qualifying part, where
    multipart/alternative offers its text children, multipart/related its root (the start
    part, else the first), multipart/signed its first child, and any other multipart (mixed)
    its first child that qualifies; a part with Content-Disposition: attachment never does.
    This is the documented MIME-to-MAPI rule; Python's own get_body() searches every child of
    multipart/mixed instead, which a store reader would not show as the body."""
    if depth > 64 or part.is_attachment():
        return None, None
    maintype, subtype = part.get_content_maintype(), part.get_content_subtype()
    if maintype == "text":
        return (part, None) if subtype == "plain" else ((None, part) if subtype == "html" else (None, None))
    if maintype != "multipart":
        return None, None
    children = _safe(lambda: list(part.iter_parts()), [])
    if not children:
        return None, None
    if subtype == "alternative":
        plain = html = None
        for child in children:
            p, h = mapi_bodies(child, depth + 1)
            # (a Message with no headers is falsy: compare with None)
            plain = plain if plain is not None else p
            html = html if html is not None else h
        return plain, html
    if subtype == "related":
        start = part.get_param("start")
        root = next((c for c in children if start and c.get("content-id") == start), children[0])
        return mapi_bodies(root, depth + 1)
    if subtype == "encrypted":
        return None, None
    if subtype == "signed":
        return mapi_bodies(children[0], depth + 1)
    for child in children:
        p, h = mapi_bodies(child, depth + 1)
        if p is not None or h is not None:
            return p, h
    return None, None


def _leaves(part, skip):
    """Every leaf part (message/rfc822 counts as one leaf) that is not a body."""
    if part.get_content_maintype() == "multipart":
        for sub in _safe(lambda: list(part.iter_parts()), []):
            yield from _leaves(sub, skip)
        return
    if any(part is s for s in skip):
        return
    yield part


UNQUOTED_PARAM = re.compile(r'(?:^|;)\s*(?:file)?name\s*=\s*([^";\s][^;]*?)\s*(?:;|$)', re.I)
ENCODED_WORD = re.compile(r"=\?[^?\s]+\?[bBqQ]\?[^?\s]*\?=")


def _lenient_filename(part, name):
    """The file name as lenient mail readers read it where Python gives up:
      - an unquoted value with blanks or '/' ("filename=This is a test.txt") is taken whole up
        to the ';' (Python stops at the first blank or special character);
      - encoded words glued to other text inside the value are decoded one by one with the
        package's own decoder (Python decodes only free-standing ones);
      - undeclared 8-bit bytes are read by the rule for them (Python makes them U+FFFD)."""
    raw = {k.lower(): v for k, v in part.raw_items()}
    for header in ("content-disposition", "content-type"):
        value = " ".join(str(raw.get(header, "")).split())
        if "*=" in value:
            continue
        m = UNQUOTED_PARAM.search(value)
        if m and (name is None or m.group(1).startswith(name)) and ("filename" in m.group(0).lower() or not name):
            name = undeclared_8bit(m.group(1))
            break
    if name and "\ufffd" in name:
        for header in ("content-disposition", "content-type"):
            value = undeclared_8bit(str(raw.get(header, "")))
            legacy = email.message.Message()
            legacy[header] = value
            fixed = legacy.get_param("filename" if header == "content-disposition" else "name", header=header)
            if isinstance(fixed, str) and fixed:
                name = fixed
                break
    if name and "=?" in name:
        # (an RFC 2231 language tag after the charset, "=?US-ASCII*EN?Q?..?=", is dropped)
        name = ENCODED_WORD.sub(
            lambda w: _safe(lambda: str(email.header.make_header(email.header.decode_header(
                re.sub(r"^(=\?[^?*]+)\*[^?]*", r"\1", w.group(0))))), w.group(0)),
            name)
    return name


def _attachment_record(part):
    name = _lenient_filename(part, _safe(part.get_filename))
    if part.get_content_type() == "message/rfc822":
        inner = _safe(lambda: part.get_payload()[0])
        if not name and inner is not None:
            name = str(_safe(lambda: inner["subject"], "") or "")
        return {"name": name or "", "embedded": True, "size": None, "sha256": None}
    if part.get_content_maintype() == "message":
        # Python parses message/delivery-status, message/partial and the like into header
        # blocks and cannot give their bytes back: only the name is compared.
        return {"name": name or "", "embedded": False, "size": None, "sha256": None}
    data = _safe(lambda: part.get_payload(decode=True), b"") or b""
    cte = str(part.get("content-transfer-encoding", "") or "")
    if cte != cte.strip() and cte.strip().lower() == "base64":
        # Blanks around the token are not part of it; Python then leaves the payload encoded.
        import base64
        data = _safe(lambda: base64.b64decode(part.get_payload(decode=False), validate=False), data)
    if any("Base64" in type(d).__name__ for d in part.defects):
        # Text that is not base64 under a base64 label has no defined decoding.
        return {"name": name or "", "embedded": False, "size": None, "sha256": None}
    return {"name": name or "", "embedded": False, "size": len(data),
            "sha256": hashlib.sha256(data).hexdigest()}


IID_IMESSAGE = bytes.fromhex("0703020000000000c000000000000046")
TNEF_PLACEHOLDER_NAME = "Untitled Attachment"


def _is_tnef(part):
    name = (_safe(part.get_filename) or "").lower()
    return part.get_content_type() in ("application/ms-tnef", "application/vnd.ms-tnef") or name == "winmail.dat"


def tnef_contents(data):
    """What Debian's `tnef` tool (an independent decoder) extracts from a winmail.dat:
    (attachment records, whether it has an HTML body), or None when the tool cannot decode it
    (the file then stays the attachment it is). An attached message comes out as its object
    bytes (IID_IMessage, then a TNEF stream): it is expected as an embedded message, unnamed
    (the tool's name for it is made up). Raises FileNotFoundError when the tool is missing."""
    if not shutil.which("tnef"):
        raise FileNotFoundError("tnef")
    with tempfile.TemporaryDirectory() as work:
        src = Path(work) / "winmail.dat"
        src.write_bytes(data)
        out = Path(work) / "out"
        out.mkdir()
        listing = subprocess.run(["tnef", "--list", "-f", str(src)], capture_output=True)
        run = subprocess.run(["tnef", "--number-backups", "--body-pref=H", "--save-body=__oracle_body__",
                              "-C", str(out), "-f", str(src)], capture_output=True)
        if listing.returncode != 0 or run.returncode != 0:
            return None
        names = [line.split("\t|\t")[0] for line in listing.stdout.decode("utf-8", "replace").splitlines() if line]
        records, seen = [], {}
        for name in names:
            n = seen.get(name, 0)
            seen[name] = n + 1
            path = out / (name if n == 0 else f"{name}.{n}")
            body = path.read_bytes() if path.is_file() else b""
            if body.startswith(IID_IMESSAGE):
                records.append({"name": "", "embedded": True, "size": None, "sha256": None})
                continue
            records.append({"name": "" if name == TNEF_PLACEHOLDER_NAME else name, "embedded": False,
                            "size": len(body), "sha256": hashlib.sha256(body).hexdigest()})
        return records, any(p.name.startswith("__oracle_body__") for p in out.iterdir())


FIELD_LINE = re.compile(rb"^[!-9;-~]+[ \t]*:")
SUPERSETS = {b"gb2312": b"gb18030", b"gbk": b"gb18030", b"ks_c_5601-1987": b"cp949", b"euc-kr": b"cp949"}
SUPERSET_LABELS = re.compile(rb"=\?(gb2312|gbk|ks_c_5601-1987|euc-kr)\?", re.I)
ADJACENT_WORDS = re.compile(rb"\?=[ \t]+=\?")
ENCODED_WORD_END = re.compile(rb"\?=\r?$")
ENCODED_WORD_START = re.compile(rb"^[ \t]+=\?")


def lenient_header_block(raw):
    """The message bytes with the header block repaired the way lenient mail readers read it.

    Python's parser ends the header block at the first line it cannot read, and everything
    after it becomes body. Readers in the field (and the importer) do not, so the oracle
    repairs what the standard library gives up on, before handing the bytes to it:
      - a UTF-8 byte-order mark and blank lines before the first header are dropped;
      - obsolete "Name :" (blanks before the colon, RFC 5322 4.5) becomes "Name:";
      - white space between two adjacent encoded words is removed (RFC 2047 6.2 says it is not
        part of the text; Python keeps it inside phrases);
      - a line inside the header block that is neither a field nor a continuation, but is
        followed by more fields, is taken as a continuation of the field before it (without
        fields after it, it is where a body without the empty separator line starts).
    Returns (bytes, has_header): has_header is False for a file with no header at its start.
    """
    if raw.startswith(b"\xef\xbb\xbf"):
        raw = raw[3:]
    lines = raw.split(b"\n")
    i = 0
    unixfrom = []
    if lines and lines[0].startswith(b"From "):
        unixfrom, lines = [lines[0]], lines[1:]
    while i < len(lines) - 1 and lines[i].strip() == b"" and lines[i] != b"" and lines[i] != b"\r":
        i += 1
    lines = lines[i:]
    if not lines or not FIELD_LINE.match(lines[0]):
        return raw, False
    out = []
    block_end = next((n for n, line in enumerate(lines) if line in (b"", b"\r")), len(lines))
    for n, line in enumerate(lines):
        if n >= block_end:
            out.extend(lines[n:])
            break
        if line[:1] in (b" ", b"\t"):
            out.append(line)
        elif FIELD_LINE.match(line):
            name, rest = line.split(b":", 1)
            out.append(name.rstrip(b" \t") + b":" + rest)
        elif any(FIELD_LINE.match(later) for later in lines[n + 1:block_end]):
            out.append(b" " + line)
        else:
            out.extend(lines[n:])
            break
        # Encoded words that follow each other (also across a fold) are joined.
        while (len(out) >= 2 and out[-1][:1] in (b" ", b"\t") and ENCODED_WORD_END.search(out[-2])
               and ENCODED_WORD_START.match(out[-1])):
            out[-2] = out[-2].rstrip(b"\r") + out[-1].lstrip(b" \t")
            out.pop()
        out[-1] = ADJACENT_WORDS.sub(rb"?==?", out[-1])
        # Encoded-word charset labels read as clients read them (as for bodies below).
        out[-1] = SUPERSET_LABELS.sub(lambda m: b"=?" + SUPERSETS[m.group(1).lower()] + b"?", out[-1])
    return b"\n".join(unixfrom + out), True


def _name_of(mailbox_header, mailbox):
    """Display name of a mailbox; RFC 5322 comments ("a@b (Name)") count as the name, as mail
    clients show them, where Python leaves the name empty."""
    if mailbox.display_name:
        return mailbox.display_name
    raw = str(getattr(mailbox_header, "_parse_tree", "") or "") or str(mailbox_header)
    m = re.search(r"\(([^()]*)\)", raw)
    if m and m.group(1).strip():
        return m.group(1).strip()
    return mailbox.addr_spec


def _typed_address(value):
    """'rfc822; <user@example.com>' -> 'user@example.com'."""
    value = str(value).split(";", 1)[-1].strip()
    return value[1:-1] if value.startswith("<") and value.endswith(">") else value


def report_fields(msg):
    """A multipart/report as MAPI keeps reports: (message class, reported recipients, original
    subject), or None for a message that is none. The class follows the most severe Action, the
    recipients are those with that action
    (failed, delayed, relayed, expanded, delivered; without one a 5.x.x status fails), a read
    report is IPNRN when displayed, else IPNNRN. The original subject comes from the returned
    message or header block (None when neither came back)."""
    if msg.get_content_type() != "multipart/report" or not msg.is_multipart():
        return None
    parts = msg.get_payload()
    status = next((p for p in parts if p.get_content_type() in ("message/delivery-status", "message/global-delivery-status")), None)
    mdn = next((p for p in parts if p.get_content_type() in ("message/disposition-notification",
                                                              "message/global-disposition-notification")), None)
    if status is None and mdn is None:
        return None
    recipients = []
    if status is not None:
        blocks = status.get_payload() if isinstance(status.get_payload(), list) else []
        listed, codes = [], []  # (address, action) per recipient
        for block in blocks:
            who = block.get_all("final-recipient") or block.get_all("original-recipient") or []
            acts = [str(a).split()[0].lower() for a in block.get_all("action") or [] if str(a).split()]
            listed += [(_typed_address(w), acts[i] if i < len(acts) else "") for i, w in enumerate(who)]
            codes += [str(c).strip() for c in block.get_all("status") or []]
        actions = [a for _, a in listed]
        for action, cls in (("failed", "REPORT.IPM.Note.NDR"), ("delayed", "REPORT.IPM.Note.Delayed.DR"),
                            ("relayed", "REPORT.IPM.Note.Relayed.DR"), ("expanded", "REPORT.IPM.Note.Expanded.DR"),
                            ("delivered", "REPORT.IPM.Note.DR")):
            if action in actions:
                break
        else:
            if not any(c.startswith("5.") for c in codes):
                return None
            action, cls = None, "REPORT.IPM.Note.NDR"
        # Only the recipients with the severest action are listed (MS-OXCMAIL 2.2.3.7.1).
        recipients = [w for w, a in listed if action is None or a == action]
    else:
        fields = mdn.get_payload(0) if mdn.is_multipart() else email.message_from_string(str(mdn.get_payload()))
        disposition = str(fields.get("disposition", "")).split(";", 1)
        kind = disposition[1].strip().split("/")[0].strip().lower() if len(disposition) > 1 else ""
        cls = "REPORT.IPM.Note.IPNRN" if kind == "displayed" else "REPORT.IPM.Note.IPNNRN"
        who = fields.get("final-recipient") or fields.get("original-recipient")
        if who:
            recipients.append(_typed_address(who))
    original = None
    returned = next((p for p in parts if p.get_content_type() == "message/rfc822"), None)
    if returned is not None and returned.is_multipart():
        original = str(_safe(lambda: returned.get_payload(0)["subject"], "") or "")
    else:
        headers = next((p for p in parts if p.get_content_type() in ("text/rfc822-headers", "message/global-headers")), None)
        if headers is not None:
            block = email.message_from_bytes(headers.get_payload(decode=True) or b"", policy=email.policy.default)
            original = str(_safe(lambda: block["subject"], "") or "")
    return cls, recipients, original


STRUCTURE_DEFECTS = {"StartBoundaryNotFoundDefect", "MultipartInvariantViolationDefect",
                     "MissingHeaderBodySeparatorDefect", "NoBoundaryInMultipartDefect"}


def oracle_fields(path):
    raw, has_header = lenient_header_block(Path(path).read_bytes())
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    rec = {"not_a_message": not has_header}
    # Python's reading of a broken structure (missing boundaries, no header/body separator) or
    # of a part with two Content-Type headers is one guess among several: the body and
    # attachment fields are not judged for such messages.
    rec["structure_defects"] = sorted({type(d).__name__ for p in msg.walk() for d in p.defects
                                       if type(d).__name__ in STRUCTURE_DEFECTS}
                                      | ({"DuplicateContentType"} if any(len(p.get_all("content-type") or []) > 1
                                                                         for p in msg.walk()) else set()))
    rec["subject"] = None if _defective(msg, "subject") else str(_safe(lambda: msg["subject"], "") or "")
    frm = () if _defective(msg, "from") else (_safe(lambda: msg["from"].addresses, ()) or ())
    rec["sender_name"] = _name_of(msg["from"], frm[0]) if frm else None
    rec["sender_address"] = (frm[0].addr_spec if frm[0].addr_spec != "<>" else "") if frm else None
    for key, header in (("to", "to"), ("cc", "cc"), ("bcc", "bcc")):
        rec[key] = _addresses(msg, header)
    date = _safe(lambda: msg["date"].datetime)
    if date is not None:
        if date.tzinfo is not None:
            date = date.astimezone(datetime.timezone.utc)
        rec["submit_time"] = date.strftime("%Y-%m-%dT%H:%M:%S")
    else:
        rec["submit_time"] = None
    top = msg.get_content_type()
    opaque_smime = top in ("application/pkcs7-mime", "application/x-pkcs7-mime")
    # An invitation, reply, cancellation or event: the calendar item's fields and recipients.
    cal = None if opaque_smime or top == "multipart/signed" else calendar_oracle.expectation(msg, rec)
    rec["calendar"] = cal["calendar"] if cal else None
    rec["recurrence"] = cal["recurrence"] if cal else None
    if cal and cal["recipients"]:
        rec.update(cal["recipients"])
    plain, htmlp = (None, None) if opaque_smime else mapi_bodies(msg)
    rec["has_html"] = htmlp is not None
    uu = []
    if plain is not None:
        text = _content_text(plain) or ""
        uu = _uuencoded_files(text)
        rec["body"] = _strip_uuencoded(text) if uu else text
        rec["body_from_html"] = False
    elif htmlp is not None:
        rec["body"] = html_to_text(_content_text(htmlp) or "")
        rec["body_from_html"] = True
    else:
        rec["body"] = ""
        rec["body_from_html"] = False
    if top == "multipart/signed":
        # Stored the MAPI way: the whole signed entity as one attachment (its bytes are a
        # re-serialisation, so only the name is compared).
        rec["attachments"] = [{"name": "smime.p7m", "embedded": False, "size": None, "sha256": None}]
    else:
        consumed = [cal["consumed"]] if cal and cal["consumed"] is not None else []
        atts = []
        for p in _leaves(msg, [plain, htmlp] + consumed):
            record = _attachment_record(p)
            if _is_tnef(p) and record["sha256"] is not None:
                # Decoded as Outlook does: its contents are the attachments, its HTML a body.
                try:
                    decoded = tnef_contents(p.get_payload(decode=True))
                except FileNotFoundError:
                    rec["tnef_unjudged"] = True
                    decoded = None
                if decoded is not None:
                    atts += decoded[0]
                    rec["has_html"] = rec["has_html"] or decoded[1]
                    continue
            atts.append(record)
        atts += [{"name": n, "embedded": False, "size": len(d), "sha256": hashlib.sha256(d).hexdigest()}
                 for n, d in uu]
        rec["attachments"] = atts
    # A report whose structure Python cannot read (no usable boundary) is not judged as one.
    report = None if rec["structure_defects"] and top == "multipart/report" else report_fields(msg)
    if rec["structure_defects"] and top == "multipart/report":
        rec["to"] = rec["cc"] = rec["bcc"] = None
    rec["message_class"] = report[0] if report else None
    rec["original_subject"] = report[2] if report else None
    if report and report[1]:
        # A report's recipient table lists the recipients it reports on.
        rec["to"], rec["cc"], rec["bcc"] = report[1], [], []
    if rec["subject"] and "\ufffd" in rec["subject"]:
        # Policy default has already replaced undeclared 8-bit bytes; read the raw header.
        raw_subject = next((v for k, v in msg.raw_items() if k.lower() == "subject"), None)
        if isinstance(raw_subject, str) and "=?" not in raw_subject:
            rec["subject"] = " ".join(undeclared_8bit(raw_subject).split())
    for key in ("subject", "sender_name", "sender_address"):
        rec[key] = undeclared_8bit(rec[key])
    for key in ("to", "cc", "bcc"):
        if rec[key] is not None:
            rec[key] = [undeclared_8bit(x) for x in rec[key]]
    return rec


# ---------------------------------------------------------------------------------------------
# Comparison

def _norm_ws(s):
    return " ".join(unicodedata.normalize("NFC", s or "").split())


def _no_ws(s):
    return "".join(unicodedata.normalize("NFC", s or "").split())


def _same_attachments(expected, actual):
    if len(expected) != len(actual):
        return False
    for e, a in zip(expected, actual):
        if e["embedded"] != a.get("embedded", False):
            return False
        # Unnamed parts get a made-up display name in the store; only declared names compare.
        if e["name"] and _norm_ws(e["name"]) != _norm_ws(a.get("name", "")):
            return False
        if e["size"] is not None and (e["size"] != a.get("size") or e["sha256"] != a.get("sha256")):
            return False
    return True


def compare_field(field, expected, actual):
    """True/False for agreement; None when the oracle has no value to compare."""
    e = expected.get(field)
    a = actual.get(field)
    if field in ("subject", "sender_name", "sender_address", "to", "cc", "bcc", "submit_time") and e is None:
        return None
    if field == "subject":
        return _norm_ws(e) == _norm_ws(a)
    if field == "sender_name":
        return _norm_ws(e) == _norm_ws(a)
    if field == "sender_address":
        return _norm_ws(e).lower() == _norm_ws(a).lower()
    if field in ("to", "cc", "bcc"):
        return [_norm_ws(x).lower() for x in e] == [_norm_ws(x).lower() for x in (a or [])]
    if field == "submit_time":
        return e == a
    if field in ("message_class", "original_subject"):
        # Judged for reports only; other classes (S/MIME, meetings, ...) have their own tests.
        return None if e is None else _norm_ws(e) == _norm_ws(a)
    if field in ("body", "has_html", "attachments") and expected.get("structure_defects"):
        return None
    if field in ("has_html", "attachments") and expected.get("tnef_unjudged"):
        return None  # a winmail.dat, and no independent decoder to say what it holds
    if field == "body":
        if expected.get("body_from_html"):
            return _no_ws(e) == _no_ws(a)
        return _norm_ws(e) == _norm_ws(a)
    if field == "has_html":
        return bool(e) == bool(a)
    if field == "attachments":
        return _same_attachments(e, a or [])
    if field in ("calendar", "recurrence"):
        # Judged where the reader of the records sees calendar items at all.
        if field not in actual or (e is None and a is None):
            return None
        return e == a
    raise ValueError(field)


def _short(v, limit=160):
    s = json.dumps(v, ensure_ascii=True)
    return s if len(s) <= limit else s[:limit] + "..."


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--actual", required=True, help="JSON lines from the importer or a store reader")
    ap.add_argument("--root", required=True, help="folder the records' paths are relative to")
    ap.add_argument("--threshold", type=float, default=0.99)
    ap.add_argument("--show", type=int, default=50, help="disagreements listed per field")
    args = ap.parse_args(argv)

    records = [json.loads(line) for line in Path(args.actual).read_text(encoding="utf-8").splitlines() if line.strip()]
    if not records:
        print("oracle: no records to compare", file=sys.stderr)
        return 2
    agree = {f: 0 for f in FIELDS}
    counted = {f: 0 for f in FIELDS}
    disagreements = {f: [] for f in FIELDS}
    import_failures = []
    for rec in records:
        path = Path(args.root) / rec["path"]
        expected = oracle_fields(path)
        if rec.get("error") and not expected["not_a_message"]:
            import_failures.append((rec["path"], rec["error"]))
        for f in FIELDS:
            if rec.get("error"):
                # A file with no header at all must be refused; any other must import.
                verdict = bool(expected["not_a_message"])
            elif expected["not_a_message"]:
                verdict = False
            else:
                verdict = compare_field(f, expected, rec)
            if verdict is None:
                continue
            counted[f] += 1
            if verdict:
                agree[f] += 1
            else:
                disagreements[f].append((rec["path"], expected.get(f), rec.get(f)))

    ok = True
    print(f"fidelity over {len(records)} messages (threshold {args.threshold:.0%}):")
    for f in FIELDS:
        share = agree[f] / counted[f] if counted[f] else 1.0
        mark = "ok" if share >= args.threshold else "BELOW"
        ok &= share >= args.threshold
        unjudged = len(records) - counted[f]
        print(f"  {f:15s} {agree[f]:4d}/{counted[f]:<4d} {share:7.2%}  {mark}"
              + (f"  ({unjudged} not judged: no value, or a defect Python reports)" if unjudged else ""))
    for path, error in import_failures:
        print(f"  import failed: {path}: {error}")
    for f in FIELDS:
        for path, e, a in disagreements[f][: args.show]:
            print(f"  differs [{f}] {path}\n      oracle:   {_short(e)}\n      imported: {_short(a)}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
