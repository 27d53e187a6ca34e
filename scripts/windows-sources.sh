#!/usr/bin/env bash
# Makes the sources the Windows build compiles from Debian's source packages, patches
# applied: SQLite's single-file source (sqlite3.c, sqlite3.h) in build/sqlite, and zlib's
# minizip (the zip reader and writer of service packages) in build/minizip. What is there
# already is left as it is. Needs deb-src entries: they are derived from the configured
# Debian sources when none are configured.
set -euo pipefail
cd "$(dirname "$0")/.."

sqlite_out=build/sqlite
minizip_out=build/minizip
need_sqlite=1
need_minizip=1
[[ -f $sqlite_out/sqlite3.c && -f $sqlite_out/sqlite3.h ]] && need_sqlite=0
[[ -f $minizip_out/unzip.c && -f $minizip_out/zip.c ]] && need_minizip=0
if ((!need_sqlite && !need_minizip)); then
  echo "windows-sources: $sqlite_out and $minizip_out present"
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
  echo "windows-sources: adding deb-src entries beside the configured sources"
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

# As the invoking user, in a folder of the build's own. A mirror may lack the newest
# version's files (a security update), so every version apt knows is tried, newest first.
fetch_source() {
  apt-get source -qq "$1" >/dev/null 2>&1 && return 0
  local version
  for version in $(apt-cache showsrc "$1" | sed -n 's/^Version: //p' | sort -Vr -u); do
    apt-get source -qq "$1=$version" >/dev/null 2>&1 && return 0
  done
  apt-get source "$1"
}

if ((need_sqlite)); then
  work=build/sqlite-work
  rm -rf "$work"
  mkdir -p "$work"
  (
    cd "$work"
    fetch_source sqlite3
    source_dir=$(find . -maxdepth 1 -type d -name 'sqlite3-*' | head -n 1)
    mkdir amalgamation
    cd amalgamation
    "../$source_dir/configure" --disable-tcl >configure.log 2>&1
    make sqlite3.c >make.log 2>&1
  )
  mkdir -p "$sqlite_out"
  cp "$work/amalgamation/sqlite3.c" "$work/amalgamation/sqlite3.h" "$sqlite_out/"
  rm -rf "$work"
  echo "windows-sources: $sqlite_out/sqlite3.c made"
fi

if ((need_minizip)); then
  work=build/minizip-work
  rm -rf "$work"
  mkdir -p "$work"
  (
    cd "$work"
    fetch_source zlib
  )
  source_dir=$(find "$work" -maxdepth 1 -type d -name 'zlib-*' | head -n 1)
  mkdir -p "$minizip_out"
  for file in ioapi.c ioapi.h unzip.c unzip.h zip.c zip.h crypt.h; do
    cp "$source_dir/contrib/minizip/$file" "$minizip_out/"
  done
  rm -rf "$work"
  echo "windows-sources: $minizip_out/unzip.c made"
fi
