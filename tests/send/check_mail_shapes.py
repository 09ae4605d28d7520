#!/usr/bin/python3
"""Looks at delivered mails three ways and writes one JSON array to --out,
one entry per mail file:
  python  what Python's email package (policy default) reads: subject, from,
          to, cc, the plain text, the HTML and the attachments (file name,
          type, SHA-256 of the bytes); display names through the classic
          RFC 2047 decoder;
  postal  the same as read by postal-mime from npm (postal_mime_dump.mjs);
  sa      SpamAssassin's verdict, local tests only: the score, every rule hit
          with its score, and the family of each rule hit (header, mime, html
          or other, from how Debian's rule files define it).

  check_mail_shapes.py --npm DIR --home DIR --out FILE MAIL...
DIR of --npm holds node_modules/postal-mime; --home is a scratch folder for
SpamAssassin's per-user files.
"""
import argparse
import email
import email.header
import email.policy
import glob
import hashlib
import json
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

SA_SCRIPT = r"""
use strict;
use Mail::SpamAssassin;
my $home = shift @ARGV;
my $sa = Mail::SpamAssassin->new({
    local_tests_only => 1,
    dont_copy_prefs => 1,
    userprefs_filename => "$home/user_prefs",
    home_dir_for_helpers => $home,
    post_config_text => "use_bayes 0\nbayes_auto_learn 0\nuse_auto_whitelist 0\n",
});
for my $file (@ARGV) {
    open(my $in, '<:raw', $file) or die "$file: $!";
    local $/;
    my $text = <$in>;
    close $in;
    my $mail = $sa->parse($text);
    my $status = $sa->check($mail);
    my $scores = $status->get_names_of_tests_hit_with_scores_hash();
    print join("\t", $file, $status->get_score(),
               map { "$_=$scores->{$_}" } sort keys %$scores), "\n";
    $status->finish();
    $mail->finish();
}
"""


def decode(value):
    return str(email.header.make_header(email.header.decode_header(value or "")))


def addresses(msg, name):
    values = msg.get_all(name, [])
    out = []
    for display, addr in email.utils.getaddresses([str(v) for v in values]):
        out.append({"name": decode(display), "address": addr})
    return out


def normal(text):
    return None if text is None else re.sub(r"\n+$", "", text.replace("\r\n", "\n"))


def describe(path):
    with open(path, "rb") as f:
        raw = f.read()
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    classic = email.message_from_bytes(raw)  # raw header values for the classic decoder
    result = {
        "subject": decode(classic.get("Subject", "")),
        "from": (addresses(classic, "From") or [{"name": "", "address": ""}])[0],
        "to": addresses(classic, "To"),
        "cc": addresses(classic, "Cc"),
        "text": None,
        "html": None,
        "attachments": [],
    }
    for part in msg.walk():
        if part.is_multipart():
            continue
        if part.get_filename() is None and part.get_content_type() in ("text/plain", "text/html"):
            key = "text" if part.get_content_type() == "text/plain" else "html"
            if result[key] is None:
                result[key] = normal(part.get_content())
            continue
        data = part.get_payload(decode=True) or b""
        result["attachments"].append({
            "filename": part.get_filename() or "",
            "type": part.get_content_type(),
            "sha256": hashlib.sha256(data).hexdigest(),
        })
    return result


def rule_families():
    """Rule name -> family, from the rule files (updates over the shipped ones)."""
    files = sorted(glob.glob("/usr/share/spamassassin/*.cf"))
    files += sorted(glob.glob("/var/lib/spamassassin/*/updates_spamassassin_org/*.cf"))
    definition = re.compile(r"^\s*(header|mimeheader|body|rawbody|uri|full|meta)\s+(\w+)\s+(.*)")
    families = {}
    for path in files:
        base = os.path.basename(path)
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                m = definition.match(line)
                if not m:
                    continue
                kind, name, text = m.groups()
                if name.startswith("MIME_") or re.search(r"check_for_mime|check_mime|check_msg_parse_flags|check_ma_non_text", text):
                    family = "mime"
                elif name.startswith("HTML_") or base == "20_html_tests.cf" or "html_" in text:
                    family = "html"
                elif kind in ("header", "mimeheader") or base in ("20_head_tests.cf", "20_fake_helo_tests.cf", "20_ratware.cf"):
                    family = "header"
                else:
                    family = "other"
                families[name] = family
    return families


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--npm", required=True)
    p.add_argument("--home", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("mails", nargs="+")
    a = p.parse_args()

    postal = json.loads(subprocess.run(
        ["node", os.path.join(HERE, "postal_mime_dump.mjs"), a.npm] + a.mails,
        check=True, capture_output=True, text=True).stdout)

    os.makedirs(a.home, exist_ok=True)
    env = dict(os.environ, HOME=a.home)
    sa = subprocess.run(["perl", "-e", SA_SCRIPT, a.home] + a.mails, check=True,
                        capture_output=True, text=True, env=env).stdout
    families = rule_families()
    verdicts = {}
    for line in sa.splitlines():
        fields = line.split("\t")
        tests = dict(t.split("=", 1) for t in fields[2:])
        verdicts[fields[0]] = {
            "score": float(fields[1]),
            "tests": {k: float(v) for k, v in tests.items()},
            "families": {k: families.get(k, "other") for k in tests},
        }

    out = [{"file": m, "python": describe(m), "postal": postal[i], "sa": verdicts[m]}
           for i, m in enumerate(a.mails)]
    with open(a.out, "w", encoding="utf-8") as f:
        json.dump(out, f, ensure_ascii=False)


if __name__ == "__main__":
    main()
