#!/usr/bin/python3
"""Reads the messages of one folder of a PST store with libpff (an independent reader) and
prints the fidelity records oracle.py compares, one JSON object per line.

pypff gives the properties and attachments; it has no access to recipient tables, so the
recipients come from pffexport's Recipients.txt of the same message (both list a folder's
messages in the same order). Each message names its source file in property 0x7D01.
With --calendar-reader, the calendar fields of meeting and appointment items come from the npm
reader pst-extractor (calendar_reader.js), which resolves named properties; libpff does not.
"""

import argparse
import datetime
import hashlib
import json
import re
import struct
import subprocess
import sys
from pathlib import Path

import pypff

PATH_TAG = 0x7D01
PT_STRING8, PT_UNICODE, PT_SYSTIME = 0x001E, 0x001F, 0x0040
ATTACH_EMBEDDED_MSG = 5


def properties(item):
    """Property id -> record entry of the item's first record set."""
    found = {}
    if item.number_of_record_sets == 0:
        return found
    for entry in item.get_record_set(0).entries:
        found.setdefault(entry.entry_type, entry)
    return found


def text(props, prop_id):
    entry = props.get(prop_id)
    if entry is None or entry.data is None:
        return ""
    raw = entry.data
    if entry.value_type == PT_UNICODE:
        s = raw.decode("utf-16-le", errors="replace")
    else:
        s = raw.decode("utf-8", errors="replace")
    return s.rstrip("\0")


def integer(props, prop_id):
    entry = props.get(prop_id)
    if entry is None or entry.data is None or len(entry.data) < 4:
        return None
    return struct.unpack_from("<i", entry.data)[0]


def iso_time(props, prop_id):
    entry = props.get(prop_id)
    if entry is None or entry.data is None or len(entry.data) != 8:
        return None
    ticks = struct.unpack("<Q", entry.data)[0]
    moment = datetime.datetime(1601, 1, 1) + datetime.timedelta(microseconds=ticks // 10)
    return moment.strftime("%Y-%m-%dT%H:%M:%S")


def subject(props):
    s = text(props, 0x0037)
    # A stored subject may start with the prefix-length marker (0x01, length).
    if len(s) >= 2 and s[0] == "\x01":
        s = s[2:]
    return s


def read_all(att):
    size = att.size
    chunks, offset = [], 0
    att.seek_offset(0)
    while offset < size:
        block = att.read_buffer(min(1 << 20, size - offset))
        if not block:
            break
        chunks.append(block)
        offset += len(block)
    return b"".join(chunks)


def attachment_record(att):
    props = properties(att)
    embedded = integer(props, 0x3705) == ATTACH_EMBEDDED_MSG
    name = text(props, 0x3707)
    if not name and embedded:
        name = text(props, 0x3001)
    record = {"name": name, "embedded": embedded, "size": None, "sha256": None}
    if not embedded:
        data = read_all(att)
        record["size"] = len(data)
        record["sha256"] = hashlib.sha256(data).hexdigest()
    return record


def exported_recipients(message_dir):
    """{"to": [...], "cc": [...], "bcc": [...]} from pffexport's Recipients.txt."""
    result = {"to": [], "cc": [], "bcc": []}
    listing = message_dir / "Recipients.txt"
    if not listing.exists():
        return result
    address, kind = None, None
    for line in listing.read_text(encoding="utf-8", errors="replace").splitlines() + [""]:
        if line.startswith("Email address:"):
            address = line.split(":", 1)[1].strip()
        elif line.startswith("Recipient type:"):
            kind = line.split(":", 1)[1].strip().lower()
        elif not line.strip():
            if kind in result:
                result[kind].append(address or "")
            address, kind = None, None
    return result


def ascii_only(s):
    return "".join(c for c in s if c < "\x80")


def exported_subject(message_dir):
    listing = message_dir / "OutlookHeaders.txt"
    if not listing.exists():
        return None
    for line in listing.read_text(encoding="utf-8", errors="replace").splitlines():
        if line.startswith("Subject:"):
            return line.split(":", 1)[1].strip()
    return None


def find_folder(folder, name):
    for sub in folder.sub_folders:
        if sub.name == name:
            return sub
        found = find_folder(sub, name)
        if found is not None:
            return found
    return None


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--store", required=True)
    ap.add_argument("--folder", required=True, help="name of the folder to read")
    ap.add_argument("--work", required=True, help="scratch path for pffexport's output")
    ap.add_argument("--calendar-reader", help="calendar_reader.js, run with node, for the calendar fields")
    args = ap.parse_args(argv)

    subprocess.run(["pffexport", "-q", "-t", args.work, args.store], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    exported = [p for p in Path(args.work + ".export").rglob(args.folder) if p.is_dir()]
    if len(exported) != 1:
        sys.exit(f"pffexport output has {len(exported)} folders named {args.folder}")
    # pffexport names an item by its kind and its place in the folder: Message00001, Meeting00002, ...
    item = re.compile(r"^(Message|Meeting|Appointment)(\d+)$")
    message_dirs = sorted((p for p in exported[0].iterdir() if item.match(p.name)),
                          key=lambda p: int(item.match(p.name).group(2)))
    calendars = None
    if args.calendar_reader:
        listing = subprocess.run(["node", args.calendar_reader, args.store, args.folder], check=True,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        calendars = {}
        for line in listing.stdout.splitlines():
            entry = json.loads(line)
            calendars[entry["path"]] = entry

    store = pypff.file()
    store.open(args.store)
    folder = find_folder(store.root_folder, args.folder)
    if folder is None:
        sys.exit(f"no folder {args.folder} in {args.store}")
    if folder.number_of_sub_messages != len(message_dirs):
        sys.exit(f"pypff lists {folder.number_of_sub_messages} messages, pffexport {len(message_dirs)}")

    for index in range(folder.number_of_sub_messages):
        message = folder.get_sub_message(index)
        props = properties(message)
        record = {
            "path": text(props, PATH_TAG),
            "subject": subject(props),
            "sender_name": text(props, 0x0042),
            "sender_address": text(props, 0x0065),
            "submit_time": iso_time(props, 0x0039),
            "body": text(props, 0x1000),
            "has_html": 0x1013 in props,
            "message_class": text(props, 0x001A),
            "original_subject": text(props, 0x0049),
            "attachments": [attachment_record(a) for a in message.attachments],
        }
        # Recipients are matched by position: make sure both readers are at the same message.
        listed = exported_subject(message_dirs[index])
        first_line = (record["subject"].splitlines() or [""])[0].strip()
        # pffexport garbles characters outside the BMP: compare the ASCII of both.
        if listed is not None and ascii_only(listed) != ascii_only(first_line):
            sys.exit(f"{message_dirs[index].name}: pffexport has subject {listed!r}, pypff {first_line!r}")
        record.update(exported_recipients(message_dirs[index]))
        if calendars is not None:
            entry = calendars.get(record["path"])
            record["calendar"] = entry["calendar"] if entry else None
            record["recurrence"] = entry["recurrence"] if entry else None
            if entry and not message_dirs[index].name.startswith("Message"):
                record.update(entry["recipients"])
        print(json.dumps(record, ensure_ascii=False))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
