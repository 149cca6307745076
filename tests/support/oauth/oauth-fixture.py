#!/usr/bin/env python3
"""The sign-in test bench, confined to one folder: the mock authorization server (the code
flow, refreshes, and device sign-ins whose polls the client id scripts; see its own help) and
two private Dovecots that take OAuth 2.0 logins (their oauth2 passdb asks the mock's /tokeninfo):
  - on 127.0.0.1, XOAUTH2 and OAUTHBEARER, plain logins allowed;
  - on 127.0.0.2, OAUTHBEARER alone, plain logins refused: a client on 127.0.0.1 is not on the
    server's own address, which Dovecot would take as secured, so it must use STLS first.
Both serve the same mailboxes; alice's holds two messages.

  oauth-fixture.py start DIR   fresh certificates, the servers started, DIR/fixture.env written
  oauth-fixture.py stop DIR    all ended, by the process ids they left in DIR

fixture.env: HTTPS_PORT and UNTRUSTED_PORT (the mock), POP3_PORT and POP3S_PORT (the first
Dovecot; IMAP_PORT its plain IMAP), STRICT_POP3_PORT (the second, STLS on its plain port),
CA_FILE (the CA that signed the servers' certificate, for localhost, 127.0.0.1 and 127.0.0.2).
Re-running start first stops what an earlier run left in DIR.
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
START_SECONDS = 20
STOP_SECONDS = 10


def die(message):
    sys.stderr.write("oauth-fixture: %s\n" % message)
    sys.exit(1)


def run_quietly(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certificates(pki):
    os.makedirs(pki, exist_ok=True)
    ca, ca_key = os.path.join(pki, "ca.pem"), os.path.join(pki, "ca.key")
    run_quietly("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                "-days", "3650", "-subj", "/O=pellwick tests/CN=pellwick sign-in CA", "-keyout", ca_key,
                "-out", ca, "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    server = os.path.join(pki, "server")
    run_quietly("openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                "-subj", "/O=pellwick tests/CN=localhost", "-keyout", server + ".key", "-out", server + ".csr")
    with open(server + ".ext", "w") as ext:
        ext.write("basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n"
                  "extendedKeyUsage=serverAuth\nsubjectAltName=DNS:localhost,IP:127.0.0.1,IP:127.0.0.2\n")
    run_quietly("openssl", "x509", "-req", "-in", server + ".csr", "-CA", ca, "-CAkey", ca_key, "-CAcreateserial",
                "-days", "365", "-sha256", "-extfile", server + ".ext", "-out", server + ".pem")
    # Names the server as well, but signed by itself: trusted by nobody.
    untrusted = os.path.join(pki, "untrusted")
    run_quietly("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                "-days", "365", "-subj", "/O=pellwick tests/CN=localhost", "-keyout", untrusted + ".key",
                "-out", untrusted + ".pem", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1")
    for name in ("ca.pem", "server.pem", "server.key"):
        os.chmod(os.path.join(pki, name), 0o644)


def free_ports(count):
    held = []
    for _ in range(count):
        s = socket.socket()
        s.bind(("", 0))
        held.append(s)
    ports = [s.getsockname()[1] for s in held]
    for s in held:
        s.close()
    return ports


def answers(address, port):
    try:
        socket.create_connection((address, port), timeout=1).close()
        return True
    except OSError:
        return False


def wait_until(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return False


def read_env(path):
    values = {}
    try:
        with open(path) as f:
            for line in f:
                name, _, value = line.strip().partition("=")
                values[name] = value
    except OSError:
        pass
    return values


def process_named(pid_file, name):
    """The process id in pid_file when that process still runs `name` (a stale file could name
    an unrelated process by now), else None."""
    try:
        with open(pid_file) as f:
            pid = int(f.readline().strip())
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return pid if name.encode() in f.read() else None
    except (OSError, ValueError):
        return None


def end_process(pid_file, name):
    pid = process_named(pid_file, name)
    if pid is not None:
        os.kill(pid, signal.SIGTERM)
        if not wait_until(lambda: process_named(pid_file, name) is None, STOP_SECONDS):
            os.kill(pid, signal.SIGKILL)
    if os.path.exists(pid_file):
        os.remove(pid_file)


def start_mock(folder):
    pki = os.path.join(folder, "pki")
    ports_file = os.path.join(folder, "mock.ports")
    log = open(os.path.join(folder, "mock.log"), "w")
    mock = subprocess.Popen([sys.executable, os.path.join(HERE, "mock_authorization_server.py"),
                             os.path.join(pki, "server.pem"), os.path.join(pki, "server.key"),
                             os.path.join(pki, "untrusted.pem"), os.path.join(pki, "untrusted.key"), ports_file],
                            stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    with open(os.path.join(folder, "mock.pid"), "w") as f:
        f.write("%d\n" % mock.pid)
    if not wait_until(lambda: os.path.exists(ports_file), START_SECONDS):
        die("the mock authorization server did not start (see %s/mock.log)" % folder)
    return read_env(ports_file)


DOVECOT_CONF = """# Written by oauth-fixture.py; rewritten at every start.
base_dir = {dir}/run
state_dir = {dir}/state
instance_name = pellwick-oauth-{instance}
log_path = {dir}/dovecot.log
listen = {address}
protocols = {protocols}
ssl = yes
ssl_cert = <{pki}/server.pem
ssl_key = <{pki}/server.key
{logins}
auth_mechanisms = {mechanisms}
auth_failure_delay = 0
auth_verbose = yes
first_valid_uid = 1
mail_location = maildir:~/Maildir
mail_max_userip_connections = 1000
passdb {{
  driver = oauth2
  mechanisms = {mechanisms}
  args = {dir}/oauth2.conf.ext
}}
userdb {{
  driver = static
  args = uid=nobody gid=nogroup home={home}/%n
}}
# Tests refuse tokens on purpose: no growing penalty for the loopback client.
service anvil {{
  unix_listener anvil-auth-penalty {{
    mode = 0
  }}
}}
service imap-login {{
  inet_listener imap {{
    port = {imap}
  }}
  inet_listener imaps {{
    port = 0
  }}
}}
service pop3-login {{
  inet_listener pop3 {{
    port = {plain}
  }}
  inet_listener pop3s {{
    port = {tls}
    ssl = yes
  }}
}}
"""

OAUTH2_EXT = """tokeninfo_url = https://127.0.0.1:{mock}/tokeninfo?access_token=
username_attribute = email
tls_ca_cert_file = {pki}/ca.pem
"""


# Plain logins allowed, or refused where the client is not on the server's own address.
PLAIN_LOGINS = "disable_plaintext_auth = no\nlogin_trusted_networks = 127.0.0.0/8"
NO_PLAIN_LOGINS = "disable_plaintext_auth = yes"

MESSAGE = "From: bob@example.test\r\nTo: alice@example.test\r\nSubject: %s\r\n\r\nHello.\r\n"


def seed_mailbox(home):
    """alice's Maildir with two new messages, the mail user's (nobody) where we may say so."""
    os.makedirs(home, exist_ok=True)
    os.chmod(home, 0o1777)
    shutil.rmtree(os.path.join(home, "alice"), ignore_errors=True)
    maildir = os.path.join(home, "alice", "Maildir")
    for sub in ("new", "cur", "tmp"):
        os.makedirs(os.path.join(maildir, sub), exist_ok=True)
    for n in (1, 2):
        with open(os.path.join(maildir, "new", "100000000%d.M1P1.bench" % n), "w") as f:
            f.write(MESSAGE % ("message %d" % n))
    for root, dirs, files in os.walk(os.path.join(home, "alice")):
        for name in [root] + [os.path.join(root, f) for f in files]:
            if os.geteuid() == 0:
                shutil.chown(name, "nobody", "nogroup")
            else:
                os.chmod(name, 0o777 if os.path.isdir(name) else 0o666)


def start_dovecot(folder, mock_port, name, address, mechanisms, logins, imap=False):
    """POP3 (plain and TLS), and plain IMAP too when `imap`; returns the three ports (IMAP 0 when off)."""
    base = os.path.join(folder, name)
    pki = os.path.join(folder, "pki")
    home = os.path.join(folder, "home")
    for sub in ("run", "state"):
        os.makedirs(os.path.join(base, sub), exist_ok=True)
    os.chmod(folder, 0o755)
    os.chmod(base, 0o755)
    with open(os.path.join(base, "oauth2.conf.ext"), "w") as f:
        f.write(OAUTH2_EXT.format(mock=mock_port, pki=pki))
    binary = "/usr/sbin/dovecot"
    for attempt in range(3):
        plain, tls, imap_port = free_ports(3)
        if not imap:
            imap_port = 0
        with open(os.path.join(base, "dovecot.conf"), "w") as f:
            f.write(DOVECOT_CONF.format(dir=base, pki=pki, plain=plain, tls=tls, home=home, address=address,
                                        mechanisms=mechanisms, logins=logins, imap=imap_port,
                                        protocols="pop3 imap" if imap else "pop3",
                                        instance=abs(hash(base)) % 1000000))
        with open(os.path.join(base, "dovecot.out"), "w") as out:
            started = subprocess.run([binary, "-c", os.path.join(base, "dovecot.conf")], stdin=subprocess.DEVNULL,
                                     stdout=out, stderr=out).returncode == 0
        if started and wait_until(lambda: answers(address, plain) and answers(address, tls) and
                                  (not imap or answers(address, imap_port)), START_SECONDS):
            return plain, tls, imap_port
        end_process(os.path.join(base, "run", "master.pid"), "dovecot")
    die("dovecot did not start (see %s/dovecot.log)" % base)


DOVECOTS = ("dovecot", "dovecot-strict")


def stop(folder):
    for name in DOVECOTS:
        end_process(os.path.join(folder, name, "run", "master.pid"), "dovecot")
    end_process(os.path.join(folder, "mock.pid"), "mock_authorization_server")
    for name in ("fixture.env", "mock.ports"):
        path = os.path.join(folder, name)
        if os.path.exists(path):
            os.remove(path)


def start(folder):
    os.makedirs(folder, exist_ok=True)
    stop(folder)
    make_certificates(os.path.join(folder, "pki"))
    seed_mailbox(os.path.join(folder, "home"))
    mock = start_mock(folder)
    plain, tls, imap = start_dovecot(folder, mock["HTTPS_PORT"], "dovecot", "127.0.0.1", "xoauth2 oauthbearer",
                                     PLAIN_LOGINS, imap=True)
    strict, _, _ = start_dovecot(folder, mock["HTTPS_PORT"], "dovecot-strict", "127.0.0.2", "oauthbearer",
                              NO_PLAIN_LOGINS)
    with open(os.path.join(folder, "fixture.env"), "w") as f:
        f.write("HTTPS_PORT=%s\nUNTRUSTED_PORT=%s\nPOP3_PORT=%d\nPOP3S_PORT=%d\nSTRICT_POP3_PORT=%d\nIMAP_PORT=%d\n"
                "CA_FILE=%s\n"
                % (mock["HTTPS_PORT"], mock["UNTRUSTED_PORT"], plain, tls, strict, imap,
                   os.path.join(folder, "pki", "ca.pem")))
    print("oauth-fixture: mock on %s, POP3 on %d, POP3S on %d, strict POP3 on 127.0.0.2:%d"
          % (mock["HTTPS_PORT"], plain, tls, strict))


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop"):
        die("usage: oauth-fixture.py start|stop DIR")
    folder = os.path.abspath(sys.argv[2])
    if sys.argv[1] == "start":
        start(folder)
    else:
        stop(folder)
        print("oauth-fixture: stopped")


if __name__ == "__main__":
    main()
