#!/usr/bin/env bash
# Steps of the release tests that run natively:
#   release-test.sh unzip ZIP DIR            DIR holds exactly what ZIP unpacks to
#   release-test.sh fresh-prefix PROGRAM...  runs the Windows test program in a Wine prefix,
#                                            display and wineserver of its own, then ends them
#   release-test.sh readme README RC KEYS     README quotes every command of the menus in the
#                                            resource script RC and describes, on a line of
#                                            its own, every settings key that KEYS defines
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)

case "${1:-}" in
  unzip)
    rm -rf "$3" && mkdir -p "$3" && unzip -q "$2" -d "$3"
    ;;
  fresh-prefix)
    shift
    # shellcheck source=../../scripts/test-env.sh
    source "$here/../../scripts/test-env.sh"
    pellwick_env_start
    wine "$@"
    status=$?
    pellwick_env_stop
    exit $status
    ;;
  readme)
    readme=$2 rc=$3 keys=$4
    missing=0
    # MENUITEM "&Text\tShortcut", ID: the text as the menu shows it.
    commands=$(sed -n 's/^[[:space:]]*MENUITEM[[:space:]]*"\([^"]*\)".*/\1/p' "$rc" | sed 's/\\t.*//; s/&//g')
    # inline constexpr char keyName[] = "name"; the file matches keys without regard to case.
    names=$(sed -n 's/^inline constexpr char key[A-Za-z0-9]*\[\] = "\([^"]*\)";.*/\1/p' "$keys" | sort -fu)
    [ -n "$commands" ] && [ -n "$names" ] || { echo "no menu commands or keys found" >&2; exit 2; }
    while IFS= read -r command; do
      grep -qF "\"$command\"" "$readme" || { echo "$readme does not mention the command \"$command\""; missing=1; }
    done <<<"$commands"
    while IFS= read -r key; do
      grep -qiE "^[[:space:]]*$key([[:space:]]|=|$)" "$readme" || { echo "$readme does not describe the key $key"; missing=1; }
    done <<<"$names"
    exit $missing
    ;;
  *)
    echo "usage: $0 unzip ZIP DIR | fresh-prefix PROGRAM [ARGUMENTS...] | readme README RC KEYS" >&2
    exit 2
    ;;
esac
