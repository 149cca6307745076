#!/usr/bin/env bash
# Builds static OpenSSL 3 for x86_64-w64-mingw32 from Debian's source package and caches it
# outside the clone, keyed by version. Prints the install prefix on its last line.
set -euo pipefail

cache_root=${PELLWICK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/pellwick}
version=$(dpkg-query -W -f='${Version}' libssl-dev 2>/dev/null || true)
[ -n "$version" ] || { echo "libssl-dev is not installed" >&2; exit 1; }
prefix="$cache_root/openssl-mingw64-$version"
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
./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- no-shared no-tests \
  --prefix="$prefix" --libdir=lib >build.log 2>&1
make -j"$(nproc)" build_libs >>build.log 2>&1 || { tail -n 40 build.log >&2; exit 1; }
make install_dev >>build.log 2>&1
touch "$prefix/.complete"
echo "$prefix"
