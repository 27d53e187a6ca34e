#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix, so that nothing of the
# user's Wine set-up is used or changed. The prefix is made on first use; parallel tests
# wait for each other while it is made.
set -euo pipefail
prefix=${MORLANE_WINEPREFIX:-${TMPDIR:-/tmp}/morlane-wine-$(id -u)}
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [[ ! -f $prefix/.morlane-ready ]]; then
  mkdir -p "$prefix"
  exec 9>"$prefix.lock"
  flock 9
  if [[ ! -f $prefix/.morlane-ready ]]; then
    wineboot --init >/dev/null 2>&1 || true
    wineserver --wait || true
    touch "$prefix/.morlane-ready"
  fi
  flock -u 9
  exec 9>&-
fi
# Wine reads the names of files, folders and arguments through the locale's character set;
# without a UTF-8 one, "ü" in a working folder is lost before the program starts.
export LC_ALL=C.UTF-8
exec wine "$@"
