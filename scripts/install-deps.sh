#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing when all are present.
set -euo pipefail
# Cyrus IMAP (a second test server) conflicts with dovecot-imapd as a package: only its shared
# libraries come from here; tests/support/cyrus/cyrus-fixture.sh unpacks its programs privately.

packages=(
  cmake make ccache g++ pkg-config libssl-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth x11-utils imagemagick tesseract-ocr
  dovecot-core dovecot-pop3d dovecot-imapd openssl
  libical3 libxapian30 fetchmail dpkg-dev perl python3 python3-yaml
  nsis zip unzip ca-certificates
  clang clang-format libclang-rt-14-dev lld
  nlohmann-json3-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
$sudo_cmd apt-get update -qq
$sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
# The package's own service would hold the standard POP3 ports; tests run private instances.
if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet dovecot 2>/dev/null; then
  $sudo_cmd systemctl stop dovecot || true
fi
