"""What a message's iCalendar part should make of it in Outlook, read with the icalendar package
(an independent iCalendar reader): the item's class, start and end (UTC), location, organizer,
and the recipient rows (organizer and attendees by role, then the header's other addresses).
oracle.py uses it for messages that carry an invitation, reply, cancellation or event."""

import datetime

import icalendar
from dateutil import rrule as dateutil_rrule

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


WEEKDAYS = ["SU", "MO", "TU", "WE", "TH", "FR", "SA"]


def _day_flags(days):
    return [d in days for d in WEEKDAYS]


def _nth(position):
    return 5 if position == -1 else position if 1 <= position <= 4 else None


def _monthly(rule, start):
    """The monthly part of a monthly or yearly rule as the blob states it, or None."""
    monthdays = [int(d) for d in rule.get("BYMONTHDAY", [])]
    setpos = [int(p) for p in rule.get("BYSETPOS", [])]
    days = [str(d).upper() for d in rule.get("BYDAY", [])]
    if monthdays:
        if len(monthdays) != 1 or days or setpos:
            return None
        if monthdays[0] == -1:
            return "MonthNth", {"weekdays": [True] * 7, "nth": 5}
        return ("Month", monthdays[0]) if 1 <= monthdays[0] <= 31 else None
    if not days:
        return None if setpos else ("Month", start.day)
    if len(days) == 1 and days[0][:-2] and not setpos:
        nth = _nth(int(days[0][:-2]))
        return ("MonthNth", {"weekdays": _day_flags([days[0][-2:]]), "nth": nth}) if nth else None
    if any(d[:-2] for d in days) or len(setpos) != 1 or _nth(setpos[0]) is None:
        return None
    return "MonthNth", {"weekdays": _day_flags(days), "nth": _nth(setpos[0])}


def recurrence_expectation(event, start):
    """The series as Outlook's recurrence blob states it (frequency, pattern, period, days, end),
    or None where the event has no rule the blob can state."""
    rules = _as_list(event.get("RRULE"))
    if len(rules) != 1 or "RDATE" in event:
        return None
    rule = rules[0]
    freq = str(rule.get("FREQ", [""])[0]).upper()
    interval = int(rule.get("INTERVAL", [1])[0])
    if any(k in rule for k in ("BYHOUR", "BYMINUTE", "BYSECOND", "BYYEARDAY", "BYWEEKNO")):
        return None
    days = [str(d).upper() for d in rule.get("BYDAY", [])]
    if freq == "DAILY" and not days and "BYMONTH" not in rule:
        frequency, pattern, period, specific = "Daily", "Day", interval * 1440, None
    elif freq == "DAILY" and interval == 1 and all(len(d) == 2 for d in days):
        frequency, pattern, period, specific = "Daily", "Week", 1, _day_flags(days)
    elif freq == "WEEKLY" and all(len(d) == 2 for d in days):
        frequency, pattern, period = "Weekly", "Week", interval
        specific = _day_flags(days or [WEEKDAYS[(start.weekday() + 1) % 7]])
    elif freq in ("MONTHLY", "YEARLY"):
        months = [int(m) for m in rule.get("BYMONTH", [])]
        if (freq == "MONTHLY" and months) or len(months) > 1 or (months and months[0] != start.month):
            return None
        monthly = _monthly(rule, start)
        if monthly is None:
            return None
        frequency = "Monthly" if freq == "MONTHLY" else "Yearly"
        period = interval if freq == "MONTHLY" else 12 * interval
        pattern, specific = monthly
    else:
        return None
    wkst = str(rule.get("WKST", ["MO"])[0]).upper()
    if "COUNT" in rule:
        end_type, occurrences = "AfterNOccurrences", int(rule["COUNT"][0])
    elif "UNTIL" in rule:
        # Counted out in the series' own wall-clock time with dateutil.
        local = start.replace(tzinfo=None) if isinstance(start, datetime.datetime) else datetime.datetime(start.year, start.month, start.day)
        until = rule["UNTIL"][0]
        if isinstance(until, datetime.datetime) and until.tzinfo is not None and getattr(start, "tzinfo", None) is not None:
            until = until.astimezone(start.tzinfo)
        until = until.replace(tzinfo=None) if isinstance(until, datetime.datetime) else datetime.datetime(until.year, until.month, until.day, 23, 59, 59)
        text = rule.to_ical().decode()
        text = ";".join(p for p in text.split(";") if not p.upper().startswith("UNTIL="))
        series = dateutil_rrule.rrulestr("RRULE:" + text, dtstart=local)
        end_type, occurrences = "AfterDate", len(list(series.between(local, until, inc=True)))
    else:
        end_type, occurrences = "NeverEnd", 10
    return {"frequency": frequency, "pattern": pattern, "period": period, "specific": specific,
            "endType": end_type, "occurrences": occurrences, "firstDayOfWeek": WEEKDAYS.index(wkst) if wkst in WEEKDAYS else 1}


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
    series = recurrence_expectation(master, start)
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
    if cls.startswith("IPM.Schedule.Meeting.Resp.") and organizer.lower() not in [
            a.lower() for kind in ("to", "cc", "bcc") for a in header_recipients.get(kind) or []]:
        organizer = ""  # a reply's rows are its header's; the organizer is marked only among them
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
    return {"calendar": record, "recipients": recipients, "consumed": consumed, "recurrence": series}
