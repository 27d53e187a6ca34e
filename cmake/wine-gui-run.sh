#!/usr/bin/env bash
# Runs a Windows program that shows windows under Wine, on a virtual X server of its own:
# no display of the user's is used, and none is needed.
#
# The windows live in a Wine prefix of their own, beside the one of wine-run.sh: a Wine
# session that was started without a display (by the other tests, or by the prefix's
# set-up) cannot show windows, so here the whole session, from its first process to the
# end of its server, runs inside the X server. Windows are left to Wine rather than to a
# window manager (there is none), which spares waiting for one at every hide.
# Ends with 77, a skipped test, when there is no virtual X server to be had. The screen is
# 1280x1024 unless MORLANE_SCREEN gives another (1920x1080).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [[ ${1:-} == --on-display ]]; then
  shift
  prefix=$MORLANE_WINEPREFIX
  mkdir -p "$prefix"
  # The session's server ends with its last process rather than seconds later.
  if [[ -f $prefix/.morlane-ready ]]; then WINEPREFIX=$prefix wineserver -p0 2>/dev/null || true; fi
  if [[ ! -f $prefix/.morlane-unmanaged ]]; then
    "$here/wine-run.sh" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    touch "$prefix/.morlane-unmanaged"
  fi
  status=0
  "$here/wine-run.sh" "$@" || status=$?
  # Bounded: a program the run left behind would otherwise hold the session for good.
  if ! WINEPREFIX=$prefix timeout 60 wineserver -w 2>/dev/null; then
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  fi
  exit "$status"
fi

if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "xvfb-run is not installed (Debian: xvfb xauth): skipped" >&2
  exit 77
fi
base=${MORLANE_WINEPREFIX:-${TMPDIR:-/tmp}/morlane-wine-$(id -u)}
export MORLANE_WINEPREFIX=$base-gui
exec xvfb-run -a -s "-screen 0 ${MORLANE_SCREEN:-1280x1024}x24" "$0" --on-display "$@"
