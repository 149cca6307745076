#!/usr/bin/env bash
# Makes the release of a built pellwick.exe: a zip and a per-user installer, and the manifests
# that winget (OUTDIR/winget/) and Scoop (OUTDIR/pellwick.json) install them from.
#   package-release.sh EXE VERSION OUTDIR [FOLDER...]
# FOLDER: folders of the build machine that the released executable must not name.
# The same tree gives the same files: every time stamp is SOURCE_DATE_EPOCH (else the last
# commit's time), the zip's entries are sorted, and the exe has no link time in it.
# PELLWICK_DOWNLOAD_URL: where the zip and the installer are published (the manifests name it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exe=$1 version=$2 out=$3
shift 3

epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || stat -c %Y "$root/CMakeLists.txt")}
export SOURCE_DATE_EPOCH=$epoch TZ=UTC LC_ALL=C
name=pellwick-$version
stage=$out/stage/$name
rm -rf "$out/stage"
mkdir -p "$stage"

crlf() { sed 's/\r$//; s/$/\r/'; }

# Debian's files that go into the release (packages ca-certificates, base-files, mingw-w64-common).
for needed in /usr/share/ca-certificates/mozilla /usr/share/common-licenses/Apache-2.0 \
  /usr/share/doc/mingw-w64-common/copyright; do
  [ -e "$needed" ] || { echo "package-release: $needed is missing" >&2; exit 1; }
done

x86_64-w64-mingw32-strip -o "$stage/pellwick.exe" "$exe"
bash "$root/scripts/check-build-paths.sh" "$stage/pellwick.exe" "$@"

# Mozilla's authorities as Debian's package ships them, one file each, in name order.
{
  echo "# Certificates pellwick trusts, besides the ones of Windows: Mozilla's authorities from"
  echo "# Debian's ca-certificates $(dpkg-query -W -f='${Version}' ca-certificates)."
  echo "# An update replaces this file: put certificates of your own into cacert-local.pem beside"
  echo "# your settings instead (README.txt says where)."
  for crt in /usr/share/ca-certificates/mozilla/*.crt; do
    echo
    echo "# $(basename "$crt" .crt)"
    cat "$crt"
  done
} | crlf >"$stage/cacert.pem"

sed "s/@VERSION@/$version/g" "$root/packaging/README.txt" | crlf >"$stage/README.txt"
{
  cat "$root/LICENSE"
  printf '\n\npellwick.exe contains OpenSSL, under the Apache License 2.0:\n\n'
  cat /usr/share/common-licenses/Apache-2.0
  printf '\n\npellwick.exe contains the MinGW-w64 runtime, under these terms:\n\n'
  cat /usr/share/doc/mingw-w64-common/copyright
} | crlf >"$stage/LICENSE.txt"

chmod 0644 "$stage"/*
chmod 0755 "$stage" "$stage/pellwick.exe"
find "$out/stage" -exec touch -h -d "@$epoch" {} +

zip_file=$out/$name-win64.zip
rm -f "$zip_file"
(cd "$out/stage" && find "$name" -print | sort | zip -q -X -9 -@ "$zip_file")

setup_file=$out/$name-setup.exe
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$setup_file" \
  -DICON="$root/res/icons/no_mail.ico" \
  "$root/packaging/pellwick.nsi"

# The manifests, filled from this build: its version, its date, the files' addresses and hashes.
# Scoop keeps persisted files as hard links, which the program's whole-file replacing cuts off;
# its hooks therefore create the files before they are persisted, so that they are linked as
# files (not folders), and copy what the program last wrote back to the store before an update
# or removal.
download=${PELLWICK_DOWNLOAD_URL:-https://pellwick.example.org/download}
fill() {
  sed -e "s|@VERSION@|$version|g" -e "s|@RELEASE_DATE@|$(date -u -d "@$epoch" +%F)|g" \
    -e "s|@SETUP_URL@|$download/$(basename "$setup_file")|g" \
    -e "s|@SETUP_SHA256@|$(sha256sum "$setup_file" | cut -d' ' -f1 | tr a-f A-F)|g" \
    -e "s|@ZIP_URL@|$download/$(basename "$zip_file")|g" \
    -e "s|@ZIP_SHA256@|$(sha256sum "$zip_file" | cut -d' ' -f1)|g" "$1"
}
rm -rf "$out/winget"
mkdir -p "$out/winget"
for manifest in "$root"/packaging/winget/*.yaml; do
  fill "$manifest" >"$out/winget/$(basename "$manifest")"
done
fill "$root/packaging/scoop/pellwick.json" >"$out/pellwick.json"

ls -l "$zip_file" "$setup_file" | awk '{ print $5, $NF }'
