#!/bin/sh
# Plants (or removes again) an OpenSSL configuration file in every folder that the given
# Windows executables name, inside the Wine prefix, and in C:/pellwick-planted, the folder
# the test's OPENSSL_CONF names. The folders are read from the executables themselves, so
# that a folder compiled in later is covered too.
#   plant_tls_config.sh plant|remove CONFIG EXE...
set -eu
action=$1 config=$2
shift 2
drive_c=${WINEPREFIX:-$HOME/.wine}/drive_c
[ -d "$drive_c" ] || { echo "no Wine prefix at $drive_c" >&2; exit 1; }

# Drive C: folders anywhere in the executables' strings (one string may hold several, as
# OpenSSL's version text does), and rooted folders of OpenSSL's own kinds, which Windows takes
# from the current drive's root. Names whose last part has a dot are files, not folders.
named_folders() {
  for exe in "$@"; do
    [ -f "$exe" ] || { echo "missing $exe" >&2; exit 1; }
    strings -n 4 "$exe" | sed 's|[cC]:[/\\]|\n&|g' | grep -oE '^[cC]:[/\\][^":*?<>|]*' || true
    strings -n 4 "$exe" | grep -oE '^/[^ ":]*/(ssl|engines-[0-9]+|ossl-modules)$' || true
  done | sed -e 's|\\|/|g' -e 's|^[cC]:||' -e 's|/*$||' | grep -v '\.[^/]*$' | grep . | sort -u
  echo /pellwick-planted
}

count=0
for folder in $(named_folders "$@" | tr ' ' '\001'); do
  folder=$(printf '%s' "$folder" | tr '\001' ' ')
  target="$drive_c$folder"
  case $action in
  plant)
    mkdir -p "$target"
    cp "$config" "$target/openssl.cnf"
    echo "planted C:$folder/openssl.cnf"
    count=$((count + 1))
    ;;
  remove)
    if [ -f "$target/openssl.cnf" ] && cmp -s "$config" "$target/openssl.cnf"; then
      rm "$target/openssl.cnf"
      # Folders made for the plant go too; folders that hold anything else stay.
      while [ "$target" != "$drive_c" ] && rmdir "$target" 2>/dev/null; do
        target=$(dirname "$target")
      done
    fi
    ;;
  esac
done
# At least the configuration folder compiled into OpenSSL besides C:/pellwick-planted.
if [ "$action" = plant ] && [ "$count" -lt 2 ]; then
  echo "no folder found in $*" >&2
  exit 1
fi
