#!/usr/bin/env python3
"""The sign-in test bench, confined to one folder: the mock authorization server and a private
Dovecot that takes OAuth 2.0 logins (its oauth2 passdb asks the mock's /tokeninfo).

  oauth-fixture.py start DIR   fresh certificates, both servers started, DIR/fixture.env written
  oauth-fixture.py stop DIR    both ended, by the process ids they left in DIR

fixture.env: HTTPS_PORT and UNTRUSTED_PORT (the mock), POP3_PORT and POP3S_PORT (Dovecot),
CA_FILE (the CA that signed both servers' certificate, for localhost and 127.0.0.1).
Re-running start first stops what an earlier run left in DIR.
"""
import os
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
                  "extendedKeyUsage=serverAuth\nsubjectAltName=DNS:localhost,IP:127.0.0.1\n")
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
        s.bind(("127.0.0.1", 0))
        held.append(s)
    ports = [s.getsockname()[1] for s in held]
    for s in held:
        s.close()
    return ports


def answers(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
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
listen = 127.0.0.1
protocols = pop3
ssl = yes
ssl_cert = <{pki}/server.pem
ssl_key = <{pki}/server.key
disable_plaintext_auth = no
auth_mechanisms = xoauth2 oauthbearer
auth_failure_delay = 0
login_trusted_networks = 127.0.0.0/8
auth_verbose = yes
first_valid_uid = 1
mail_location = maildir:~/Maildir
mail_max_userip_connections = 1000
passdb {{
  driver = oauth2
  mechanisms = xoauth2 oauthbearer
  args = {dir}/oauth2.conf.ext
}}
userdb {{
  driver = static
  args = uid=nobody gid=nogroup home={dir}/home/%n
}}
# Tests refuse tokens on purpose: no growing penalty for the loopback client.
service anvil {{
  unix_listener anvil-auth-penalty {{
    mode = 0
  }}
}}
service imap-login {{
  inet_listener imap {{
    port = 0
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


def start_dovecot(folder, mock_port):
    base = os.path.join(folder, "dovecot")
    pki = os.path.join(folder, "pki")
    for sub in ("run", "state", "home"):
        os.makedirs(os.path.join(base, sub), exist_ok=True)
    os.chmod(folder, 0o755)
    os.chmod(base, 0o755)
    os.chmod(os.path.join(base, "home"), 0o1777)
    with open(os.path.join(base, "oauth2.conf.ext"), "w") as f:
        f.write(OAUTH2_EXT.format(mock=mock_port, pki=pki))
    binary = "/usr/sbin/dovecot"
    for attempt in range(3):
        plain, tls = free_ports(2)
        with open(os.path.join(base, "dovecot.conf"), "w") as f:
            f.write(DOVECOT_CONF.format(dir=base, pki=pki, plain=plain, tls=tls,
                                        instance=abs(hash(folder)) % 1000000))
        with open(os.path.join(base, "dovecot.out"), "w") as out:
            started = subprocess.run([binary, "-c", os.path.join(base, "dovecot.conf")], stdin=subprocess.DEVNULL,
                                     stdout=out, stderr=out).returncode == 0
        if started and wait_until(lambda: answers(plain) and answers(tls), START_SECONDS):
            return plain, tls
        end_process(os.path.join(base, "run", "master.pid"), "dovecot")
    die("dovecot did not start (see %s/dovecot.log)" % base)


def stop(folder):
    end_process(os.path.join(folder, "dovecot", "run", "master.pid"), "dovecot")
    end_process(os.path.join(folder, "mock.pid"), "mock_authorization_server")
    for name in ("fixture.env", "mock.ports"):
        path = os.path.join(folder, name)
        if os.path.exists(path):
            os.remove(path)


def start(folder):
    os.makedirs(folder, exist_ok=True)
    stop(folder)
    make_certificates(os.path.join(folder, "pki"))
    mock = start_mock(folder)
    plain, tls = start_dovecot(folder, mock["HTTPS_PORT"])
    with open(os.path.join(folder, "fixture.env"), "w") as f:
        f.write("HTTPS_PORT=%s\nUNTRUSTED_PORT=%s\nPOP3_PORT=%d\nPOP3S_PORT=%d\nCA_FILE=%s\n"
                % (mock["HTTPS_PORT"], mock["UNTRUSTED_PORT"], plain, tls, os.path.join(folder, "pki", "ca.pem")))
    print("oauth-fixture: mock on %s, POP3 on %d, POP3S on %d" % (mock["HTTPS_PORT"], plain, tls))


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
