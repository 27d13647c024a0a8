#!/usr/bin/env python3
"""Reads a store with an independent reader and compares what it sees with a manifest of what
was written: folders, message counts, subjects, plain and HTML bodies, attachment names and
bytes (SHA-256), attached messages to any depth.

usage: oracle_compare.py pffexport|readpst|npm STORE MANIFEST
Exit 0 when everything matches, 1 with one line per difference, 77 when the reader is missing.
"""
import email
import email.policy
import hashlib
import json
import mailbox
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.abspath(os.path.join(HERE, '..', '..', '..'))


def pattern_sha(size, seed):
    h = hashlib.sha256()
    chunk = bytearray()
    for k in range(size):
        chunk.append((k * 131 + seed) % 251)
        if len(chunk) == 1 << 16:
            h.update(chunk)
            chunk = bytearray()
    h.update(chunk)
    return h.hexdigest()


def norm(text):
    if text is None:
        return None
    return text.replace('\r\n', '\n').strip()


# ---- readers: each returns {folder path below the IPM root: [message]} ----
# message = {subject, body, html, attachments: [{name, sha256, size, embedded}]}

def read_pffexport(store, work):
    if not shutil.which('pffexport'):
        raise FileNotFoundError('pffexport')
    target = os.path.join(work, 'pff')
    subprocess.run(['pffexport', '-m', 'all', '-f', 'all', '-q', '-t', target, store], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    root = os.path.join(target + '.export')
    tops = [d for d in os.listdir(root) if d.startswith('Top of ')]
    if len(tops) != 1:
        raise RuntimeError('pffexport: no IPM root folder among %s' % os.listdir(root))
    ipm = os.path.join(root, tops[0])

    def message(d):
        m = {'subject': None, 'body': None, 'html': None, 'attachments': []}
        with open(os.path.join(d, 'OutlookHeaders.txt'), encoding='utf-8', errors='replace') as f:
            for line in f:
                if line.startswith('Subject:'):
                    m['subject'] = line.split(':', 1)[1].strip()
        for name, key in (('Message.txt', 'body'), ('Message.html', 'html')):
            p = os.path.join(d, name)
            if os.path.exists(p):
                with open(p, 'rb') as f:
                    m[key] = f.read().decode('utf-8', errors='replace')
        adir = os.path.join(d, 'Attachments')
        if os.path.isdir(adir):
            for entry in sorted(os.listdir(adir)):
                p = os.path.join(adir, entry)
                if os.path.isdir(p):  # an attached message: Attachments/AttachmentN/Message00001
                    inner = [os.path.join(p, x) for x in os.listdir(p) if x.startswith('Message')]
                    m['attachments'].append({'name': None, 'embedded': message(inner[0]) if inner else None})
                else:
                    with open(p, 'rb') as f:
                        data = f.read()
                    m['attachments'].append({'name': entry.split('_', 1)[1] if '_' in entry else entry,
                                             'size': len(data), 'sha256': hashlib.sha256(data).hexdigest()})
        return m

    out = {}
    for dirpath, dirnames, filenames in os.walk(ipm):
        msgs = [d for d in dirnames if d.startswith('Message')]
        rel = os.path.relpath(dirpath, ipm)
        if 'Attachments' in rel.split(os.sep) or os.path.basename(dirpath).startswith('Message'):
            continue
        if msgs:
            out[rel.replace(os.sep, '\\')] = [message(os.path.join(dirpath, d)) for d in msgs]
    return out


def mime_message(msg):
    m = {'subject': str(msg['subject']) if msg['subject'] is not None else None, 'body': None, 'html': None,
         'attachments': []}
    for part in msg.iter_parts() if msg.is_multipart() else [msg]:
        walk_part(part, m)
    return m


def walk_part(part, m):
    ctype = part.get_content_type()
    disp = part.get_content_disposition()
    if ctype == 'message/rfc822':
        # readpst writes the attached message with an mbox "From " line first; parse what follows it.
        raw = part.as_bytes(policy=email.policy.compat32).split(b'\n\n', 1)[1].lstrip(b'\n')
        if raw.startswith(b'>From ') or raw.startswith(b'From '):
            raw = raw.split(b'\n', 1)[1]
        inner = email.message_from_bytes(raw, policy=email.policy.default)
        m['attachments'].append({'name': part.get_filename(), 'embedded': mime_message(inner)})
    elif part.is_multipart():
        for p in part.iter_parts():
            walk_part(p, m)
    elif disp == 'attachment' or part.get_filename():
        data = part.get_payload(decode=True) or b''
        m['attachments'].append({'name': part.get_filename(), 'size': len(data),
                                 'sha256': hashlib.sha256(data).hexdigest()})
    elif ctype == 'text/plain' and m['body'] is None:
        m['body'] = part.get_content()
    elif ctype == 'text/html' and m['html'] is None:
        m['html'] = part.get_content()


def read_readpst(store, work):
    if not shutil.which('readpst'):
        raise FileNotFoundError('readpst')
    target = os.path.join(work, 'pst')
    os.makedirs(target)
    # -j 0: no parallel jobs. readpst forks one child per folder, and the children share the
    # parent's file offset (they seek, then read), so a child now and then reads a block another
    # child sought: about one run in twenty gave 4,080 bytes of another message's attachment.
    subprocess.run(['readpst', '-j', '0', '-D', '-r', '-q', '-o', target, store], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    tops = os.listdir(target)
    if len(tops) != 1:
        raise RuntimeError('readpst: expected one store folder, found %s' % tops)
    ipm = os.path.join(target, tops[0])
    out = {}
    for dirpath, dirnames, filenames in os.walk(ipm):
        if 'mbox' not in filenames:
            continue
        rel = os.path.relpath(dirpath, ipm).replace(os.sep, '\\')
        box = mailbox.mbox(os.path.join(dirpath, 'mbox'),
                           factory=lambda f: email.message_from_binary_file(f, policy=email.policy.default))
        out[rel] = [mime_message(msg) for msg in box]
    return out


def read_npm(store, work):
    script = os.path.join(SOURCE, 'tests', 'oracles', 'pst_extractor_dump.js')
    if not shutil.which('node') or not os.path.exists(os.path.join(SOURCE, 'tests', 'node_modules', 'pst-extractor')):
        raise FileNotFoundError('node with pst-extractor (run tests/oracles/ensure-npm.sh)')
    dump = json.loads(subprocess.run(['node', script, store], check=True, capture_output=True).stdout)

    def message(x):
        return {'subject': x['subject'], 'body': x['body'], 'html': x['bodyHTML'] or None,
                'attachments': [{'name': a['name'], 'embedded': message(a['embedded']) if a.get('embedded') else None}
                                if a.get('method') == 5 else
                                {'name': a['name'], 'size': a['size'], 'sha256': a['sha256']}
                                for a in x['attachments']]}
    out = {}
    for f in dump['folders']:
        parts = f['path'].split('\\')[1:]  # '', IPM root name, ...
        if len(parts) < 2 or not f['messages']:
            continue
        out['\\'.join(parts[1:])] = [message(m) for m in f['messages']]
    return out


# ---- comparison ----

# Known limits of the readers, not of the store (each also seen on Outlook-made stores):
#  - readpst leaves out attachments whose data is empty;
#  - pst-extractor reports attached messages without their content (embedded = null).
LIMITS = {'readpst': {'drops_empty_attachments'}, 'npm': {'no_embedded_content'}, 'pffexport': set()}
READER = None


def compare_message(where, want, got, problems, check_html):
    limits = LIMITS[READER]
    if 'drops_empty_attachments' in limits:
        want = dict(want, attachments=[a for a in want['attachments'] if a.get('size', 1) != 0])
    if norm(got['body']) != norm(want['body']):
        problems.append('%s: body %r, expected %r' % (where, (got['body'] or '')[:80], want['body'][:80]))
    if check_html and want.get('html') is not None and norm(got['html']) != norm(want['html']):
        problems.append('%s: HTML body %r, expected %r' % (where, (got['html'] or '')[:80], want['html'][:80]))
    wa, ga = want['attachments'], got['attachments']
    if len(wa) != len(ga):
        problems.append('%s: %d attachments, expected %d' % (where, len(ga), len(wa)))
        return
    files_want = sorted((a['name'], a['size']) for a in wa if 'embedded' not in a)
    files_got = sorted((a['name'], a['size']) for a in ga if not a.get('embedded') and 'size' in a)
    if files_want != files_got:
        problems.append('%s: attachments %s, expected %s' % (where, files_got, files_want))
    shas = {a['name']: a['sha256'] for a in ga if 'sha256' in a}
    for a in wa:
        if 'embedded' in a:
            inner = [g for g in ga if g.get('embedded') and g['embedded']['subject'] == a['embedded']['subject']]
            if not inner and 'no_embedded_content' in limits:
                if not any('embedded' in g and g['name'] == a['name'] for g in ga):
                    problems.append('%s: attached message %r missing' % (where, a['name']))
            elif not inner:
                problems.append('%s: attached message %r missing' % (where, a['embedded']['subject']))
            else:
                compare_message(where + ' > ' + a['embedded']['subject'], a['embedded'], inner[0]['embedded'],
                                problems, check_html)
        elif shas.get(a['name']) != pattern_sha(a['size'], a['seed']):
            problems.append('%s: bytes of attachment %r differ' % (where, a['name']))


def main():
    global READER
    reader, store, manifest = sys.argv[1:4]
    READER = reader
    with open(manifest, encoding='utf-8') as f:
        expected = json.load(f)
    readers = {'pffexport': read_pffexport, 'readpst': read_readpst, 'npm': read_npm}
    with tempfile.TemporaryDirectory() as work:
        try:
            seen = readers[reader](store, work)
        except FileNotFoundError as e:
            print('reader not available: %s' % e)
            return 77
    problems = []
    for folder in expected['folders']:
        path = folder['path']
        got = seen.get(path)
        if got is None:
            problems.append('%s: folder missing (reader saw %s)' % (path, sorted(seen)))
            continue
        if len(got) != len(folder['messages']):
            problems.append('%s: %d messages, expected %d' % (path, len(got), len(folder['messages'])))
        by_subject = {}
        for m in got:
            by_subject.setdefault(m['subject'], m)
        for want in folder['messages']:
            m = by_subject.get(want['subject'])
            if m is None:
                problems.append('%s: message %r missing' % (path, want['subject']))
                continue
            compare_message('%s: %s' % (path, want['subject']), want, m, problems, True)
    for p in problems[:50]:
        print(p)
    if len(problems) > 50:
        print('... and %d more' % (len(problems) - 50))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
