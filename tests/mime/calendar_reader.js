// Reads the calendar items of one folder of a store with the npm reader pst-extractor (which
// resolves named properties through the store's own map) and prints one JSON line per message
// that has appointment times: its sample path (property 0x7D01), what the item says, and its
// recipient rows.
'use strict';
const path = require('path');
const { PSTFile } = require(path.join(__dirname, '..', 'node_modules', 'pst-extractor'));
const { PSTAppointment } = require(path.join(__dirname, '..', 'node_modules', 'pst-extractor', 'dist', 'PSTAppointment.class'));
const { RecurrencePattern } = require(path.join(__dirname, '..', 'node_modules', 'pst-extractor', 'dist', 'RecurrencePattern.class'));

// The reader types a meeting request as plain mail; its appointment getters read any item.
const appointmentGetter = (name) => Object.getOwnPropertyDescriptor(PSTAppointment.prototype, name).get;
const startOf = appointmentGetter('startTime');
const endOf = appointmentGetter('endTime');
const locationOf = appointmentGetter('location');
const recurrenceOf = appointmentGetter('recurrenceStructure');

// The series as the reader decodes the recurrence blob (its start and end dates left out: the
// reader does not decode them).
function recurrence(m) {
  const blob = recurrenceOf.call(m);
  if (!blob) return null;
  const p = new RecurrencePattern(blob).toJSON();
  return { frequency: p.recurFrequency, pattern: p.patternType, period: p.period, specific: p.patternTypeSpecific,
           endType: p.endType, occurrences: p.occurrenceCount, firstDayOfWeek: p.firstDOW };
}

const iso = (d) => (d ? d.toISOString().slice(0, 19) : null);

function find(folder, name) {
  if (!folder.hasSubfolders) return null;
  for (const child of folder.getSubFolders()) {
    if (child.displayName === name) return child;
    const found = find(child, name);
    if (found) return found;
  }
  return null;
}

const [storePath, folderName] = process.argv.slice(2);
const folder = find(new PSTFile(storePath).getRootFolder(), folderName);
if (!folder) {
  process.stderr.write(`no folder ${folderName}\n`);
  process.exit(1);
}
for (let m = folder.getNextChild(); m; m = folder.getNextChild()) {
  const start = startOf.call(m);
  if (!start) continue;
  let organizer = '';
  // pffexport lists no recipients for meeting items: the rows come from here for those.
  const recipients = { to: [], cc: [], bcc: [] };
  for (let i = 0; i < m.numberOfRecipients; i++) {
    const r = m.getRecipient(i);
    if (!r) continue;
    if (r.recipientFlags & 2) organizer = r.emailAddress;
    const kind = { 1: 'to', 2: 'cc', 3: 'bcc' }[r.recipientType];
    if (kind) recipients[kind].push(r.emailAddress);
  }
  const calendar = { class: m.messageClass, start: iso(start), end: iso(endOf.call(m)), location: locationOf.call(m) || '', organizer };
  process.stdout.write(JSON.stringify({ path: m.getStringItem(0x7d01), calendar, recipients, recurrence: recurrence(m) }) + '\n');
}
