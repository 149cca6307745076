#!/usr/bin/env bash
# Builds static OpenSSL 3 for x86_64-w64-mingw32 from Debian's source package and caches it
# outside the clone, keyed by version and options. Prints the install prefix on its last line.
#
# The folders compiled into the library (configuration, engines, modules) are the ones Windows
# builds of OpenSSL use, which only administrators can write: a rooted path of the build machine
# would name a folder at the root of the user's drive that any local user can create, and
# OpenSSL reads openssl.cnf from there. Nothing pellwick does not use is built: no engines, no
# loadable modules, no automatic configuration file, no legacy algorithms.
set -euo pipefail

cache_root=${PELLWICK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/pellwick}
version=$(dpkg-query -W -f='${Version}' libssl-dev 2>/dev/null || true)
[ -n "$version" ] || { echo "libssl-dev is not installed" >&2; exit 1; }
options=(
  no-shared no-tests no-engine no-module no-dso no-autoload-config no-legacy no-comp no-ssl3
  no-dtls no-srp no-idea no-mdc2 no-rc2 no-rc4 no-rc5 no-bf no-cast no-des no-md4
  no-seed no-camellia no-aria no-sm2 no-sm3 no-sm4 no-whirlpool no-gost no-siphash no-cms
  no-ts no-ui-console no-ct no-ocsp no-srtp no-nextprotoneg
)
windows_top="C:/Program Files/OpenSSL"
windows_ssl_dir="C:/Program Files/Common Files/SSL"
# The cache key names the options, so changing them builds anew instead of reusing.
key=$(printf '%s ' "${options[@]}" "$windows_top" "$windows_ssl_dir" openssldir-by-make | sha256sum | cut -c1-12)
prefix="$cache_root/openssl-mingw64-$version-$key"
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

enable_source_packages() {
  # deb-src entries derived from the machine's own apt sources, so no mirror is named here.
  local out=/etc/apt/sources.list.d/pellwick-deb-src.sources tmp
  [ -f "$out" ] && return 0
  tmp=$(mktemp)
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    [ "$f" = "$out" ] && continue
    awk 'BEGIN{RS=""; ORS="\n\n"} /Types:[ \t]*deb([ \t\n]|$)/ { sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f" >> "$tmp"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" > "$tmp.list" || true
    if [ -s "$tmp.list" ]; then $sudo_cmd cp "$tmp.list" /etc/apt/sources.list.d/pellwick-deb-src.list; fi
    rm -f "$tmp.list"
  done
  [ -s "$tmp" ] && $sudo_cmd cp "$tmp" "$out"
  rm -f "$tmp"
  $sudo_cmd apt-get update -qq
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

fetch_source() {
  # A missing signature file can make apt-get exit non-zero although the tarball arrived.
  apt-get source --download-only "openssl=$version" >/dev/null 2>&1 ||
    apt-get source --download-only openssl >/dev/null 2>&1 || true
  ls openssl_*.orig.tar.* >/dev/null 2>&1
}
if ! fetch_source; then
  enable_source_packages
  fetch_source || { echo "could not fetch the openssl source package" >&2; exit 1; }
fi

tarball=$(ls openssl_*.orig.tar.* | head -n 1)
mkdir src
tar -xf "$tarball" -C src --strip-components=1
cd src
echo "building OpenSSL $version for mingw64 (about two minutes)" >&2
./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- "${options[@]}" \
  --prefix="$windows_top" --libdir=lib >build.log 2>&1
# Configure takes "C:/..." for a relative folder on this build machine and would append it to
# the prefix, so the configuration folder is given to make directly.
make -j"$(nproc)" OPENSSLDIR="$windows_ssl_dir" build_libs >>build.log 2>&1 || { tail -n 40 build.log >&2; exit 1; }
# The install prefix is the Windows folder, so the headers and archives are copied by hand.
rm -rf "$prefix.tmp"
mkdir -p "$prefix.tmp/lib" "$prefix.tmp/include"
cp libcrypto.a libssl.a "$prefix.tmp/lib/"
cp -r include/openssl "$prefix.tmp/include/"
touch "$prefix.tmp/.complete"
rm -rf "$prefix"
mv "$prefix.tmp" "$prefix"
echo "$prefix"
