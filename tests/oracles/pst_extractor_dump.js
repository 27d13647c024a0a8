// Reads a store with the independent npm reader pst-extractor and prints, as JSON, every folder
// with every message: subject, sender, recipients, bodies and attachments (names, sizes, SHA-256),
// embedded messages recursively. Tests compare this with what was written.
'use strict';
const crypto = require('crypto');
const path = require('path');
const { PSTFile } = require(path.join(__dirname, '..', 'node_modules', 'pst-extractor'));

function readStream(stream) {
  const hash = crypto.createHash('sha256');
  let size = 0;
  if (!stream) return { size, sha256: hash.digest('hex') };
  const buf = Buffer.alloc(8176);
  for (;;) {
    const n = stream.read(buf);
    if (n <= 0) break;
    hash.update(buf.subarray(0, n));
    size += n;
  }
  return { size, sha256: hash.digest('hex') };
}

function message(msg) {
  const out = {
    subject: msg.subject,
    senderName: msg.senderName,
    senderEmail: msg.senderEmailAddress,
    clientSubmitTime: msg.clientSubmitTime ? msg.clientSubmitTime.toISOString() : null,
    body: msg.body,
    bodyHTML: msg.bodyHTML,
    recipients: [],
    attachments: [],
  };
  for (let i = 0; i < msg.numberOfRecipients; i++) {
    const r = msg.getRecipient(i);
    if (r) out.recipients.push({ type: r.recipientType, name: r.displayName, email: r.emailAddress });
  }
  for (let i = 0; i < msg.numberOfAttachments; i++) {
    const a = msg.getAttachment(i);
    const entry = { name: a.longFilename || a.filename, method: a.attachMethod, mime: a.mimeTag };
    if (a.attachMethod === 5) {
      const embedded = a.embeddedPSTMessage;
      entry.embedded = embedded ? message(embedded) : null;
    } else {
      Object.assign(entry, readStream(a.fileInputStream));
    }
    out.attachments.push(entry);
  }
  return out;
}

function folder(f, prefix, out) {
  const messages = [];
  if (f.contentCount > 0) {
    for (let m = f.getNextChild(); m; m = f.getNextChild()) messages.push(message(m));
  }
  out.push({ path: prefix, name: f.displayName, contentCount: f.contentCount, unreadCount: f.unreadCount, messages });
  if (f.hasSubfolders) {
    for (const child of f.getSubFolders()) folder(child, prefix + '\\' + child.displayName, out);
  }
}

const file = new PSTFile(process.argv[2]);
const folders = [];
folder(file.getRootFolder(), '', folders);
process.stdout.write(JSON.stringify({ store: file.getMessageStore().displayName, folders }, null, 1));
