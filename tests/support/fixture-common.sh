# Shell pieces the private servers' fixture scripts share; sourced, never run.

# Ends the process group whose id the first line of file $1 holds, when its leader's name
# contains $2: a stale file could name unrelated processes by now. TERM, then KILL after
# STOP_WAIT_STEPS tenths of a second.
stop_process_group() {
  local group_file=$1 leader=$2
  [ -s "$group_file" ] || return 0
  local group
  group=$(head -n 1 "$group_file")
  rm -f "$group_file"
  case "$group" in ''|*[!0-9]*) return 0 ;; esac
  grep -q "$leader" "/proc/$group/comm" 2>/dev/null || return 0
  kill -TERM -- "-$group" 2>/dev/null || true
  local i
  for i in $(seq 1 "$STOP_WAIT_STEPS"); do
    kill -0 -- "-$group" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL -- "-$group" 2>/dev/null || true
}

# $1 distinct free loopback ports, held open together so they differ.
free_ports() {
  python3 - "$1" <<'PY'
import socket, sys
held = []
for _ in range(int(sys.argv[1])):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    held.append(s)
print(" ".join(str(s.getsockname()[1]) for s in held))
PY
}

# A test authority named $2 and a certificate for localhost and 127.0.0.1 it signs, in folder
# $1: ca.pem, server.pem and server.key, the certificates readable by all.
make_certificates() {
  local pki=$1 authority=$2
  mkdir -p "$pki"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 3650 \
    -subj "/O=pellwick tests/CN=$authority" -keyout "$pki/ca.key" -out "$pki/ca.pem" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/O=pellwick tests/CN=localhost" \
    -keyout "$pki/server.key" -out "$pki/server.csr" 2>/dev/null
  printf '%s\n' "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature,keyEncipherment" \
    "extendedKeyUsage=serverAuth" "subjectAltName=DNS:localhost,IP:127.0.0.1" >"$pki/server.ext"
  openssl x509 -req -in "$pki/server.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" -CAcreateserial \
    -days 365 -sha256 -extfile "$pki/server.ext" -out "$pki/server.pem" 2>/dev/null
  chmod 0644 "$pki/ca.pem" "$pki/server.pem"
}
