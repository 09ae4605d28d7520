// Prints what postal-mime (a MIME parser from npm, installed under the folder
// given first) reads from each mail file given after it: a JSON array with
// subject, from, to, cc, text, html and the attachments (file name, type,
// SHA-256 of the bytes), in the form tests/send/check_mail_shapes.py compares.
import { createRequire } from 'node:module';
import { createHash } from 'node:crypto';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';

const [npmDir, ...files] = process.argv.slice(2);
const loaded = createRequire(join(npmDir, 'package.json'))('postal-mime');
const PostalMime = loaded.default || loaded;

const address = (a) => ({ name: a.name || '', address: a.address || '' });
const text = (t) => (t === undefined ? null : t.replace(/\r\n/g, '\n').replace(/\n+$/, ''));

const out = [];
for (const file of files) {
    const mail = await PostalMime.parse(readFileSync(file));
    out.push({
        subject: mail.subject || '',
        from: address(mail.from || {}),
        to: (mail.to || []).map(address),
        cc: (mail.cc || []).map(address),
        text: text(mail.text),
        html: text(mail.html),
        attachments: mail.attachments.map((a) => ({
            filename: a.filename || '',
            type: a.mimeType,
            sha256: createHash('sha256').update(Buffer.from(a.content)).digest('hex'),
        })),
    });
}
process.stdout.write(JSON.stringify(out));
