#!/usr/bin/env bash
# A private Dovecot POP3 and IMAP server for tests, confined to one folder.
#   dovecot-fixture.sh start DIR   fresh configuration, certificates and mail store; start; wait
#                                  until every port answers; write DIR/fixture.env
#   dovecot-fixture.sh stop DIR    end the instance started from DIR (its whole process group)
# Re-running start first stops an instance left over from an earlier run in the same DIR.
set -euo pipefail

readonly START_WAIT_STEPS=100   # x 0.1 s
readonly STOP_WAIT_STEPS=100    # x 0.1 s

# shellcheck source=../fixture-common.sh
. "$(dirname "${BASH_SOURCE[0]}")/../fixture-common.sh"

die() { echo "dovecot-fixture: $*" >&2; exit 1; }

[ $# -eq 2 ] || die "usage: $0 start|stop DIR"
action=$1
mkdir -p "$2"
dir=$(cd "$2" && pwd)
# Dovecot's mail processes run as nobody and must reach the mailboxes below DIR.
chmod go+rx "$dir"
pid_file="$dir/run/master.pid"
# Dovecot runs in the foreground in a session of its own, so that stopping ends every process
# it started: an IMAP process in IDLE outlives a signalled master for seconds otherwise, and a
# restart meanwhile fails.
group_file="$dir/fixture.pgid"

dovecot_bin=$(command -v dovecot || echo /usr/sbin/dovecot)
[ -x "$dovecot_bin" ] || die "dovecot is not installed"

stop_instance() {
  stop_process_group "$group_file" dovecot
  [ -s "$pid_file" ] || return 0
  local pid
  pid=$(head -n 1 "$pid_file")
  case "$pid" in ''|*[!0-9]*) return 0 ;; esac
  # Only a Dovecot master: a stale file could name an unrelated process by now.
  grep -q dovecot "/proc/$pid/comm" 2>/dev/null || { rm -f "$pid_file"; return 0; }
  kill "$pid" 2>/dev/null || true
  local i
  for i in $(seq 1 "$STOP_WAIT_STEPS"); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$pid_file"
}

port_answers() {
  python3 - "$1" <<'PY'
import socket, sys
try:
    socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=1).close()
except OSError:
    sys.exit(1)
PY
}

# Lets every folder made below `path` be writable by all, whatever the creator's umask: the
# tests create maildirs as root (under Wine without chown or chmod), and Dovecot works in them as
# nobody. A default POSIX ACL with only the base entries (user, group, other all rwx) does this.
open_for_all() {
  chmod 0777 "$1"
  python3 - "$1" <<'PY'
import os, struct, sys
ACL_USER_OBJ, ACL_GROUP_OBJ, ACL_OTHER, UNDEFINED_ID = 0x01, 0x04, 0x20, 0xFFFFFFFF
entries = b"".join(struct.pack("<HHI", tag, 7, UNDEFINED_ID) for tag in (ACL_USER_OBJ, ACL_GROUP_OBJ, ACL_OTHER))
os.setxattr(sys.argv[1], "system.posix_acl_default", struct.pack("<I", 2) + entries)
PY
}

write_config() {
  local plain_port=$1 tls_port=$2 imap_port=$3 imaps_port=$4
  local instance
  instance="pellwick-$(printf '%s' "$dir" | cksum | cut -d' ' -f1)"
  cat >"$dir/dovecot.conf" <<CONF
# Written by dovecot-fixture.sh; rewritten at every start.
base_dir = $dir/run
state_dir = $dir/state
instance_name = $instance
log_path = $dir/dovecot.log
info_log_path = $dir/dovecot.log
listen = 127.0.0.1
protocols = pop3 imap
ssl = yes
ssl_cert = <$dir/pki/server.pem
ssl_key = <$dir/pki/server.key
disable_plaintext_auth = no
auth_mechanisms = plain
# User names exactly as the tests spell them (the default lowercases them), since they name files.
auth_username_format = %u
auth_failure_delay = 0
# Tests refuse logins on purpose, often: no growing penalty for the loopback client.
login_trusted_networks = 127.0.0.0/8
auth_verbose = yes
first_valid_uid = 1
mail_location = maildir:~/Maildir
mail_max_userip_connections = 1000
pop3_uidl_format = %08Xu%08Xv
# One passwd file per user: tests running in parallel never rewrite each other's entries.
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $dir/users/%u
}
userdb {
  driver = static
  args = uid=nobody gid=nogroup home=$dir/home/%u
}
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
service imap-login {
  inet_listener imap {
    port = $imap_port
  }
  inet_listener imaps {
    port = $imaps_port
    ssl = yes
  }
}
service pop3-login {
  inet_listener pop3 {
    port = $plain_port
  }
  inet_listener pop3s {
    port = $tls_port
    ssl = yes
  }
}
CONF
}

start_instance() {
  stop_instance
  rm -rf "$dir/home" "$dir/users" "$dir/state" "$dir/run" "$dir/pki" "$dir/fixture.env" "$dir/dovecot.log"
  mkdir -p "$dir/home" "$dir/users" "$dir/state" "$dir/run"
  open_for_all "$dir/home"
  chmod 0755 "$dir/users"
  make_certificates "$dir/pki" "pellwick fixture CA"

  local attempt plain_port tls_port imap_port imaps_port
  for attempt in 1 2 3; do
    read -r plain_port tls_port imap_port imaps_port < <(free_ports 4)
    write_config "$plain_port" "$tls_port" "$imap_port" "$imaps_port"
    # Its own streams, so that it does not hold the caller's pipes open. Started in the
    # background of this script, setsid makes Dovecot the leader of a new group itself.
    setsid "$dovecot_bin" -F -c "$dir/dovecot.conf" </dev/null >"$dir/dovecot.out" 2>&1 &
    echo $! >"$group_file"
    local i
    for i in $(seq 1 "$START_WAIT_STEPS"); do
      if port_answers "$plain_port" && port_answers "$tls_port" && port_answers "$imap_port" &&
        port_answers "$imaps_port"; then
        cat >"$dir/fixture.env" <<ENV
PLAIN_PORT=$plain_port
TLS_PORT=$tls_port
IMAP_PORT=$imap_port
IMAPS_PORT=$imaps_port
CA_FILE=$dir/pki/ca.pem
PASSWD_FILE=$dir/users/%u
HOME_ROOT=$dir/home
ENV
        echo "dovecot-fixture: running, POP3 on $plain_port, POP3S on $tls_port, IMAP on $imap_port, IMAPS on $imaps_port"
        return 0
      fi
      sleep 0.1
    done
    # A port taken between choosing and binding, or a slow start: try again from scratch.
    stop_instance
  done
  cat "$dir/dovecot.out" "$dir/dovecot.log" >&2 2>/dev/null || true
  die "dovecot did not start"
}

case "$action" in
  start) start_instance ;;
  stop) stop_instance; rm -f "$dir/fixture.env"; echo "dovecot-fixture: stopped" ;;
  *) die "unknown action $action" ;;
esac
