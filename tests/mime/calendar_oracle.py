"""What a message's iCalendar part should make of it in Outlook, read with the icalendar package
(an independent iCalendar reader): the item's class, start and end (UTC), location, organizer,
and the recipient rows (organizer and attendees by role, then the header's other addresses).
oracle.py uses it for messages that carry an invitation, reply, cancellation or event."""

import datetime

import icalendar

REPLY_CLASSES = {"ACCEPTED": "IPM.Schedule.Meeting.Resp.Pos", "TENTATIVE": "IPM.Schedule.Meeting.Resp.Tent",
                 "DECLINED": "IPM.Schedule.Meeting.Resp.Neg"}
EXPRESSIBLE_FREQUENCIES = {"DAILY", "WEEKLY", "MONTHLY", "YEARLY"}


def _is_attached(part):
    return str(part.get("content-disposition", "")).split(";")[0].strip().lower() == "attachment"


def _calendar_part(msg):
    """The text/calendar part of the body, else an attached calendar file; (part, attached)."""
    as_file = None
    stack = [msg]
    while stack:
        part = stack.pop(0)
        if part.get_content_maintype() == "multipart":
            stack[0:0] = list(part.iter_parts())
            continue
        if part.get_content_type() == "message/rfc822":
            continue
        name = (part.get_filename() or "").lower()
        if part.get_content_type() == "text/calendar" and not _is_attached(part):
            return part, False
        if as_file is None and (part.get_content_type() in ("text/calendar", "application/ics") or name.endswith(".ics")):
            as_file = part
    return (as_file, True) if as_file is not None else (None, False)


def _utc(value):
    if isinstance(value, datetime.datetime):
        if value.tzinfo is not None:
            value = value.astimezone(datetime.timezone.utc).replace(tzinfo=None)
        return value
    return datetime.datetime(value.year, value.month, value.day)


def _address(value):
    s = str(value).strip()
    return s[7:] if s.lower().startswith("mailto:") else s


def _as_list(value):
    if value is None:
        return []
    return value if isinstance(value, list) else [value]


def expectation(msg, header_recipients):
    """None when the message stays mail; else the calendar record, the recipients by type, and
    the part the item consumes (None when the .ics is kept)."""
    part, attached = _calendar_part(msg)
    if part is None:
        return None
    try:
        cal = icalendar.Calendar.from_ical(part.get_payload(decode=True) or b"")
        events = cal.walk("VEVENT")
    except Exception:
        return None
    if not events:
        return None
    master = next((e for e in events if "RECURRENCE-ID" not in e), events[0])
    method = str(cal.get("METHOD") or part.get_param("method") or "").upper()
    if method == "REQUEST":
        cls = "IPM.Schedule.Meeting.Request"
    elif method == "CANCEL":
        cls = "IPM.Schedule.Meeting.Canceled"
    elif method == "REPLY":
        attendees = _as_list(master.get("ATTENDEE"))
        cls = REPLY_CLASSES.get(str(attendees[0].params.get("PARTSTAT", "")).upper()) if attendees else None
    elif method == "PUBLISH" or (method == "" and not attached):
        cls = "IPM.Appointment"
    else:
        cls = None
    if cls is None or "DTSTART" not in master:
        return None
    start = master.decoded("DTSTART")
    if "DTEND" in master:
        end = master.decoded("DTEND")
    elif "DURATION" in master:
        end = start + master.decoded("DURATION")
    else:
        end = start + datetime.timedelta(days=1) if not isinstance(start, datetime.datetime) else start
    # A floating time (or one in a zone nobody describes) or an end before the start: the item
    # says it differently, and the .ics stays beside it.
    exact = all(not isinstance(t, datetime.datetime) or t.tzinfo is not None for t in (start, end))
    start, end = _utc(start), _utc(end)
    exact = exact and end >= start
    end = max(start, end)
    organizer = _address(master["ORGANIZER"]) if "ORGANIZER" in master else ""
    record = {"class": cls, "start": start.strftime("%Y-%m-%dT%H:%M:%S"), "end": end.strftime("%Y-%m-%dT%H:%M:%S"),
              "location": str(master.get("LOCATION", "")), "organizer": organizer}

    recipients = None
    if not cls.startswith("IPM.Schedule.Meeting.Resp."):
        rows = [("to", organizer)] if organizer else []
        seen = {organizer.lower()} if organizer else set()
        for attendee in _as_list(master.get("ATTENDEE")):
            address = _address(attendee)
            if address.lower() in seen:
                continue
            seen.add(address.lower())
            cutype = str(attendee.params.get("CUTYPE", "")).upper()
            role = str(attendee.params.get("ROLE", "")).upper()
            kind = "bcc" if cutype in ("RESOURCE", "ROOM") else "cc" if role in ("OPT-PARTICIPANT", "NON-PARTICIPANT") else "to"
            rows.append((kind, address))
        if rows:
            for kind in ("to", "cc", "bcc"):
                rows += [(kind, a) for a in header_recipients.get(kind) or [] if a.lower() not in seen]
            recipients = {kind: [a for k, a in rows if k == kind] for kind in ("to", "cc", "bcc")}

    # The item keeps the .ics where it cannot hold all of it: more events than one, or a rule
    # beyond the recurrence patterns Outlook has.
    rules = _as_list(master.get("RRULE"))
    plain_rule = all(str(r.get("FREQ", [""])[0]).upper() in EXPRESSIBLE_FREQUENCIES and
                     not any(k in r for k in ("BYHOUR", "BYMINUTE", "BYSECOND", "BYYEARDAY", "BYWEEKNO")) for r in rules)
    consumed = part if exact and not attached and len(events) == 1 and len(rules) <= 1 and plain_rule and "RDATE" not in master else None
    return {"calendar": record, "recipients": recipients, "consumed": consumed}
