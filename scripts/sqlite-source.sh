#!/usr/bin/env bash
# Makes SQLite's single-file source (sqlite3.c, sqlite3.h) for the Windows build from
# Debian's source package, patches applied, in build/sqlite. Nothing is done when it is
# there already. Needs deb-src entries: they are derived from the configured Debian
# sources when none are configured.
set -euo pipefail
cd "$(dirname "$0")/.."

out=build/sqlite
if [[ -f $out/sqlite3.c && -f $out/sqlite3.h ]]; then
  echo "sqlite-source: $out/sqlite3.c present"
  exit 0
fi

if [[ $(id -u) -eq 0 ]]; then
  as_root=()
else
  as_root=(sudo)
fi

has_deb_src() {
  grep -rqsE '^(deb-src |Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null
}

if ! has_deb_src; then
  echo "sqlite-source: adding deb-src entries beside the configured sources"
  for file in /etc/apt/sources.list.d/*.sources; do
    [[ -f $file ]] || continue
    grep -q '^Types:.*\bdeb\b' "$file" || continue
    sed -E 's/^Types:.*/Types: deb-src/' "$file" |
      "${as_root[@]}" tee "/etc/apt/sources.list.d/morlane-src-$(basename "$file")" >/dev/null
  done
  if [[ -f /etc/apt/sources.list ]] && grep -q '^deb ' /etc/apt/sources.list; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
      "${as_root[@]}" tee /etc/apt/sources.list.d/morlane-src.list >/dev/null
  fi
  "${as_root[@]}" apt-get update -qq
fi

work=build/sqlite-work
rm -rf "$work"
mkdir -p "$work"
(
  cd "$work"
  # As the invoking user, in a folder of the build's own.
  apt-get source -qq sqlite3 >/dev/null 2>&1 || apt-get source sqlite3
  source_dir=$(find . -maxdepth 1 -type d -name 'sqlite3-*' | head -n 1)
  mkdir amalgamation
  cd amalgamation
  "../$source_dir/configure" --disable-tcl >configure.log 2>&1
  make sqlite3.c >make.log 2>&1
)
mkdir -p "$out"
cp "$work/amalgamation/sqlite3.c" "$work/amalgamation/sqlite3.h" "$out/"
rm -rf "$work"
echo "sqlite-source: $out/sqlite3.c made"
