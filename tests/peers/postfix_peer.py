#!/usr/bin/python3
"""A private Postfix instance on 127.0.0.1 for tests (Debian's postfix, root).

  postfix_peer.py --folder DIR --maildirs DIR [--port N] [--relay PORT]
                  [--mailbox NAME]...

Everything of the instance lives in --folder (created if missing): its
config_directory (main.cf, master.cf, the lookup tables), queue_directory
(queue/) and data_directory (data/); Postfix's own log is --folder/postfix.log.
No system service, no file outside --folder and --maildirs is touched.

It listens for SMTP on 127.0.0.1:--port (0 or absent: a free port) and
  - delivers mail for NAME@local.test (each --mailbox NAME) to the Maildir
    --maildirs/NAME/Maildir/ and mail for any other address at local.test to
    --maildirs/catchall/Maildir/ (virtual delivery as nobody:nogroup; the
    layout dovecot's "maildir:<home>/%u/Maildir" reads);
  - accepts mail for bounce.test (smtpd_reject_unlisted_recipient = no:
    otherwise smtpd would refuse it at RCPT TO already) and fails it through
    Postfix's error transport, so Postfix sends a real delivery status notification
    (multipart/report) back to the envelope sender;
  - relays mail for any other domain to 127.0.0.1:--relay when given, and
    otherwise refuses such recipients at RCPT TO (554 Relay access denied).
Clients on 127.0.0.1 need no authentication. DNS is never used.

Once the instance listens it prints "READY <port>" on stdout. It runs until
SIGTERM or SIGINT, then kills the Postfix master's process group (the master
and every process it started) and waits for the master. The master also gets SIGTERM when this process dies any
other way (PR_SET_PDEATHSIG), so no Postfix process outlives a test.
It exits 1 with Postfix's log on stderr when the instance does not come up.
"""
import argparse
import ctypes
import grp
import os
import pwd
import signal
import socket
import subprocess
import sys
import time

DAEMONS = "/usr/lib/postfix/sbin"

MASTER_CF = """\
127.0.0.1:{port} inet n - n - - smtpd
pickup    unix n - n 60 1 pickup
cleanup   unix n - n - 0 cleanup
qmgr      unix n - n 300 1 qmgr
rewrite   unix - - n - - trivial-rewrite
bounce    unix - - n - 0 bounce
defer     unix - - n - 0 bounce
trace     unix - - n - 0 bounce
verify    unix - - n - 1 verify
flush     unix n - n 1000? 0 flush
proxymap  unix - - n - - proxymap
smtp      unix - - n - - smtp
relay     unix - - n - - smtp
showq     unix n - n - - showq
error     unix - - n - - error
retry     unix - - n - - error
discard   unix - - n - - discard
virtual   unix - n n - - virtual
anvil     unix - - n - 1 anvil
scache    unix - - n - 1 scache
postlog   unix-dgram n - n - 1 postlogd
"""


def main_cf(folder, maildirs, relay):
    lines = [
        "compatibility_level = 3.6",
        "config_directory = " + folder,
        "queue_directory = " + os.path.join(folder, "queue"),
        "data_directory = " + os.path.join(folder, "data"),
        "maillog_file = " + os.path.join(folder, "postfix.log"),
        "maillog_file_prefixes = " + folder,
        "myhostname = mta.local.test",
        "mydomain = local.test",
        "myorigin = $myhostname",
        "mydestination =",
        "inet_interfaces = 127.0.0.1",
        "inet_protocols = ipv4",
        "mynetworks = 127.0.0.0/8",
        "smtp_dns_support_level = disabled",
        "smtp_host_lookup = native",
        "disable_dns_lookups = yes",
        "biff = no",
        "smtputf8_enable = no",
        "message_size_limit = 104857600",
        "virtual_mailbox_limit = 0",
        "alias_maps =",
        "alias_database =",
        "local_recipient_maps =",
        "virtual_mailbox_domains = local.test",
        "virtual_mailbox_base = " + maildirs,
        "virtual_mailbox_maps = texthash:" + os.path.join(folder, "mailboxes"),
        "smtpd_reject_unlisted_recipient = no",
        "virtual_uid_maps = static:%d" % pwd.getpwnam("nobody").pw_uid,
        "virtual_gid_maps = static:%d" % pwd.getpwnam("nobody").pw_gid,
        "virtual_minimum_uid = 1",
        "relay_domains = bounce.test",
        "transport_maps = texthash:" + os.path.join(folder, "transport"),
        "smtpd_relay_restrictions = "
        + ("permit_mynetworks, reject" if relay else "reject_unauth_destination"),
        "queue_run_delay = 1s",
        "minimal_backoff_time = 1s",
        "maximal_backoff_time = 2s",
    ]
    if relay:
        lines.append("relayhost = [127.0.0.1]:%d" % relay)
    return "\n".join(lines) + "\n"


def write(path, text):
    with open(path, "w", encoding="ascii") as f:
        f.write(text)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def read_log(folder):
    try:
        with open(os.path.join(folder, "postfix.log"), encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


# The queue and data folders with the owners and modes Postfix checks for
# (its own "postfix check" insists on a main.cf in /etc/postfix).
QUEUE = [
    ("", "root", None, 0o755),
    ("active", "postfix", None, 0o700),
    ("bounce", "postfix", None, 0o700),
    ("corrupt", "postfix", None, 0o700),
    ("defer", "postfix", None, 0o700),
    ("deferred", "postfix", None, 0o700),
    ("flush", "postfix", None, 0o700),
    ("hold", "postfix", None, 0o700),
    ("incoming", "postfix", None, 0o700),
    ("private", "postfix", None, 0o700),
    ("maildrop", "postfix", "postdrop", 0o730),
    ("public", "postfix", "postdrop", 0o710),
    ("pid", "root", None, 0o755),
    ("saved", "postfix", None, 0o700),
    ("trace", "postfix", None, 0o700),
]


def make_queue(folder):
    for sub, user, group, mode in QUEUE:
        path = os.path.join(folder, "queue", sub)
        os.makedirs(path, exist_ok=True)
        gid = grp.getgrnam(group).gr_gid if group else -1
        os.chown(path, pwd.getpwnam(user).pw_uid, gid)
        os.chmod(path, mode)
    data = os.path.join(folder, "data")
    os.makedirs(data, exist_ok=True)
    os.chown(data, pwd.getpwnam("postfix").pw_uid, -1)
    os.chmod(data, 0o700)


def end_with_parent():
    os.setsid()
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--folder", required=True)
    p.add_argument("--maildirs", required=True)
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--relay", type=int, default=0)
    p.add_argument("--mailbox", action="append", default=[])
    a = p.parse_args()
    folder = os.path.abspath(a.folder)
    maildirs = os.path.abspath(a.maildirs)
    port = a.port or free_port()

    os.makedirs(folder, exist_ok=True)
    os.makedirs(maildirs, exist_ok=True)
    # The virtual delivery agent runs as nobody and creates the mailboxes.
    nobody = pwd.getpwnam("nobody")
    os.chown(maildirs, nobody.pw_uid, nobody.pw_gid)
    write(os.path.join(folder, "main.cf"), main_cf(folder, maildirs, a.relay))
    write(os.path.join(folder, "master.cf"), MASTER_CF.format(port=port))
    # Postfix allows no pattern substitution in a mailbox map: every name
    # gets its own line, every other address the catch-all.
    mailboxes = ["%s@local.test %s/Maildir/" % (n, n) for n in a.mailbox]
    write(os.path.join(folder, "mailboxes"), "\n".join(mailboxes + ["@local.test catchall/Maildir/\n"]))
    write(os.path.join(folder, "transport"), "bounce.test error:5.1.1 mailbox unavailable\n")

    make_queue(folder)
    env = dict(os.environ, MAIL_CONFIG=folder)
    master = subprocess.Popen(
        [os.path.join(DAEMONS, "master"), "-c", folder, "-d"],
        env=env,
        stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL,
        stderr=open(os.path.join(folder, "master.log"), "wb"),
        preexec_fn=end_with_parent,
    )

    stopping = []

    def stop(*_):
        # Nothing of a test server needs an orderly shutdown: the master and
        # every process it started (its process group) end at once. The
        # handler may run inside master.wait(), so it only signals; the
        # waiting below sees the master end.
        stopping.append(True)
        try:
            os.killpg(master.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    deadline = time.monotonic() + 20
    while not listening(port):
        if stopping:
            master.wait()
            return 0
        if master.poll() is not None or time.monotonic() > deadline:
            sys.stderr.write("postfix did not start\n" + read_log(folder))
            with open(os.path.join(folder, "master.log"), errors="replace") as f:
                sys.stderr.write(f.read())
            if master.poll() is None:
                os.killpg(master.pid, signal.SIGKILL)
                master.wait()
            return 1
        time.sleep(0.02)
    print("READY %d" % port, flush=True)
    master.wait()
    if stopping:
        return 0
    sys.stderr.write("postfix ended by itself\n" + read_log(folder))
    return 1


if __name__ == "__main__":
    sys.exit(main())
