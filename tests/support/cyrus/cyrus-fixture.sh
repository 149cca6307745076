#!/usr/bin/env bash
# A private Cyrus IMAP server for tests, confined to one folder, beside the private Dovecot.
#   cyrus-fixture.sh start DIR            fresh configuration, certificates and spool; start; wait
#                                         until both ports answer; write DIR/fixture.env
#   cyrus-fixture.sh stop DIR             end the instance started from DIR (its process group)
#   cyrus-fixture.sh adduser DIR USER PW  give USER the password PW in the instance's sasldb
# Debian's cyrus-imapd package conflicts with dovecot-imapd, so the Cyrus programs are unpacked
# from their packages into a private root (PELLWICK_CYRUS_ROOT, by default under
# ~/.cache/pellwick, or /var/cache/pellwick for root, whose home nobody may enter) and run from
# there as the current user (nobody for root). When that cannot be had, start
# writes DIR/unavailable with the reason and succeeds: the Cyrus tests then skip with it.
set -euo pipefail

readonly START_WAIT_STEPS=150   # x 0.1 s
readonly STOP_WAIT_STEPS=100    # x 0.1 s
readonly CYRUS_PACKAGES="cyrus-common cyrus-imapd sasl2-bin"
readonly CYRUS_RUNTIME_PACKAGES="libical3 libxapian30"
readonly ADMIN_USER=cyrusadmin

# shellcheck source=../fixture-common.sh
. "$(dirname "${BASH_SOURCE[0]}")/../fixture-common.sh"

die() { echo "cyrus-fixture: $*" >&2; exit 1; }

[ $# -ge 2 ] || die "usage: $0 start|stop|adduser DIR [USER PASSWORD]"
action=$1
mkdir -p "$2"
dir=$(cd "$2" && pwd)
group_file="$dir/fixture.pgid"
# Cyrus's services refuse to run as root: started by root, the master becomes nobody.
if [ "$(id -u)" -eq 0 ]; then
  run_user=nobody run_group=nogroup default_root=/var/cache/pellwick/cyrus-root
else
  run_user=$(id -un) run_group=$(id -gn) default_root=$HOME/.cache/pellwick/cyrus-root
fi
root=${PELLWICK_CYRUS_ROOT:-$default_root}
libs="$root/usr/lib/x86_64-linux-gnu"
bin="$root/usr/lib/cyrus/bin"

unavailable() {
  echo "$*" >"$dir/unavailable"
  echo "cyrus-fixture: not started: $*"
  exit 0
}

# Unpacks the packages into the private root once; the shared libraries they need beyond that
# come from Debian as usual (they do not conflict with Dovecot).
ensure_root() {
  [ -x "$bin/master" ] && [ -x "$root/usr/sbin/saslpasswd2" ] && return 0
  local missing=() p
  for p in $CYRUS_RUNTIME_PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    [ "$(id -u)" -eq 0 ] || return 1
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null ||
      return 1
  fi
  local work
  work=$(mktemp -d)
  # apt-get download writes as _apt where it can: a folder it may write to.
  chmod 0777 "$work"
  # A machine whose package lists were never fetched knows no package: fetch them once (root).
  if ! (cd "$work" && apt-get download $CYRUS_PACKAGES >/dev/null 2>&1); then
    [ "$(id -u)" -eq 0 ] && apt-get update -qq >/dev/null 2>&1 &&
      (cd "$work" && apt-get download $CYRUS_PACKAGES >/dev/null 2>&1) || { rm -rf "$work"; return 1; }
  fi
  mkdir -p "$root.new"
  for p in "$work"/*.deb; do dpkg-deb -x "$p" "$root.new" || { rm -rf "$work" "$root.new"; return 1; }; done
  rm -rf "$work" "$root"
  chmod 0755 "$root.new"
  mv "$root.new" "$root"
}

stop_instance() {
  # Only a Cyrus group: its leader is master.
  stop_process_group "$group_file" master
}

# True once the plain port's greeting arrives (the port opens before imapd can answer) and
# the TLS port accepts.
both_answer() {
  python3 - "$1" "$2" <<'PY'
import socket, sys
try:
    with socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=2) as s:
        if not s.recv(200).startswith(b"* OK"):
            sys.exit(1)
    socket.create_connection(("127.0.0.1", int(sys.argv[2])), timeout=2).close()
except OSError:
    sys.exit(1)
PY
}

# imapd.conf takes no comments after a value (they would become part of it): comments on
# lines of their own only.
write_config() {
  local imap_port=$1 imaps_port=$2
  cat >"$dir/imapd.conf" <<CONF
# Written by cyrus-fixture.sh; rewritten at every start.
configdirectory: $dir/lib
partition-default: $dir/spool
servername: localhost
cyrus_user: $run_user
cyrus_group: $run_group
admins: $ADMIN_USER
unixhierarchysep: yes
allowplaintext: yes
sasl_pwcheck_method: auxprop
sasl_auxprop_plugin: sasldb
sasl_sasldb_path: $dir/sasldb2
sasl_mech_list: PLAIN LOGIN
# User names exactly as the tests spell them (the default lowercases them at login).
username_tolower: 0
# Tests refuse logins on purpose: no pause after each.
failedloginpause: 0
tls_server_cert: $dir/pki/server.pem
tls_server_key: $dir/pki/server.key
# IDLE pushes changes through idled; without it imapd polls once a minute.
idlesocket: $dir/lib/socket/idle
lmtpsocket: $dir/lib/socket/lmtp
notifysocket: $dir/lib/socket/notify
syslog_prefix: pellwick-cyrus
CONF
  cat >"$dir/cyrus.conf" <<CONF
START {
  recover cmd="$bin/ctl_cyrusdb -C $dir/imapd.conf -r"
}
SERVICES {
  imap cmd="$bin/imapd -C $dir/imapd.conf" listen="127.0.0.1:$imap_port" prefork=0 maxchild=200
  imaps cmd="$bin/imapd -s -C $dir/imapd.conf" listen="127.0.0.1:$imaps_port" prefork=0 maxchild=200
}
EVENTS {
  checkpoint cmd="$bin/ctl_cyrusdb -C $dir/imapd.conf -c" period=30
}
DAEMON {
  idled cmd="$bin/idled -C $dir/imapd.conf"
}
CONF
}

set_password() {
  printf '%s' "$2" | LD_LIBRARY_PATH="$libs" \
    "$root/usr/sbin/saslpasswd2" -p -c -f "$dir/sasldb2" -u localhost "$1"
  [ "$(id -u)" -ne 0 ] || chown "$run_user:$run_group" "$dir/sasldb2"
}

start_instance() {
  stop_instance
  rm -rf "$dir/lib" "$dir/spool" "$dir/pki" "$dir/fixture.env" "$dir/unavailable" "$dir/sasldb2"
  ensure_root || unavailable "Cyrus could not be unpacked into $root (apt-get download $CYRUS_PACKAGES failed)"
  mkdir -p "$dir/lib/socket" "$dir/lib/proc" "$dir/lib/db" "$dir/lib/log" "$dir/spool"
  make_certificates "$dir/pki" "pellwick cyrus CA"
  # The services (as run_user) reach the folder and own what they write below it.
  chmod go+rx "$dir"
  chmod 0644 "$dir/pki/server.key"
  [ "$(id -u)" -ne 0 ] || chown -R "$run_user:$run_group" "$dir/lib" "$dir/spool" "$dir/pki"

  local admin_password attempt imap_port imaps_port i
  admin_password=$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')
  for attempt in 1 2 3; do
    read -r imap_port imaps_port < <(free_ports 2)
    write_config "$imap_port" "$imaps_port"
    set_password "$ADMIN_USER" "$admin_password"
    setsid env LD_LIBRARY_PATH="$libs" \
      "$bin/master" -C "$dir/imapd.conf" -M "$dir/cyrus.conf" -p "$dir/master.pid" -D \
      </dev/null >"$dir/cyrus.out" 2>&1 &
    echo $! >"$group_file"
    for i in $(seq 1 "$START_WAIT_STEPS"); do
      kill -0 "$(cat "$group_file")" 2>/dev/null || break
      if both_answer "$imap_port" "$imaps_port"; then
        cat >"$dir/fixture.env" <<ENV
IMAP_PORT=$imap_port
IMAPS_PORT=$imaps_port
CA_FILE=$dir/pki/ca.pem
ADMIN_USER=$ADMIN_USER
ADMIN_PASSWORD=$admin_password
SCRIPT=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
ENV
        echo "cyrus-fixture: running, IMAP on $imap_port, IMAPS on $imaps_port"
        return 0
      fi
      sleep 0.1
    done
    stop_instance
  done
  # The Dovecot tests share this setup step: a Cyrus that fails skips only the Cyrus rows.
  cat "$dir/cyrus.out" >&2 2>/dev/null || true
  unavailable "Cyrus did not start in $dir (it logs to syslog only; see $dir/cyrus.out)"
}

case "$action" in
  start) start_instance ;;
  stop) stop_instance; rm -f "$dir/fixture.env"; echo "cyrus-fixture: stopped" ;;
  adduser) [ $# -eq 4 ] || die "usage: $0 adduser DIR USER PASSWORD"; set_password "$3" "$4" ;;
  *) die "unknown action $action" ;;
esac
