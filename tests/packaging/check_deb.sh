#!/usr/bin/env bash
# The Debian package, made from this build and checked as a technician's machine and the
# archive tools see it: its files, the udev rule, the desktop entry, the AppStream data,
# lintian, the manual pages, the shell completion and the programs unpacked from it.
#   check_deb.sh BUILD_DIR VERSION
set -euo pipefail

build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; exit 1; }
deb=$work/out/morlane_${version}_amd64.deb
[[ -f $deb ]] || { ls -R "$work/out" >&2; echo "FAIL: no $deb" >&2; exit 1; }

# -- The file list: everything a technician needs, nothing else.
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' | grep -v '/$' | sort >"$work/files"
expected=(
  /usr/bin/morlane /usr/bin/morlane-cli /usr/bin/morlane-unit-sim /usr/bin/morlane-sample-images
  /usr/lib/udev/rules.d/60-morlane.rules
  /usr/share/applications/org.morlane.Morlane.desktop
  /usr/share/applications/org.morlane.MorlaneStation.desktop
  /usr/share/metainfo/org.morlane.Morlane.metainfo.xml
  /usr/share/bash-completion/completions/morlane-cli
  /usr/share/man/man1/morlane.1.gz /usr/share/man/man1/morlane-cli.1.gz
  /usr/share/man/man1/morlane-unit-sim.1.gz /usr/share/man/man1/morlane-sample-images.1.gz
  /usr/share/man/man5/morlane-station.5.gz
  /usr/share/doc/morlane/copyright /usr/share/doc/morlane/changelog.gz
  /usr/lib/systemd/system/morlane-dashboard.service /etc/default/morlane-dashboard
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/morlane.png")
done
printf '%s\n' "${expected[@]}" | sort >"$work/expected"
diff -u "$work/expected" "$work/files" || fail "file list (- missing, + unexpected)"
while read -r mode _ path; do
  case $path in
    */) [[ $mode == drwxr-xr-x ]] || fail "$path has mode $mode" ;;
    */usr/bin/*) [[ $mode == -rwxr-xr-x ]] || fail "$path has mode $mode" ;;
    *) [[ $mode == -rw-r--r-- ]] || fail "$path has mode $mode" ;;
  esac
done < <(dpkg-deb -c "$deb" | awk '{print $1, $2, $NF}')
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libhidapi-hidraw0 'libqt6widgets6|libqt6widgets6t64' adduser; do
  grep -Eq "(^|, )($library)( |,|$)" <<<"$depends" || fail "Depends lacks $library: $depends"
done

root=$work/root
dpkg-deb -x "$deb" "$root"

# -- The udev rule: the unit's hidraw and USB nodes for the user at the seat, its ports
# left alone by the modem manager; every rule line names the unit.
rule=$root/usr/lib/udev/rules.d/60-morlane.rules
grep -Eq '^SUBSYSTEM=="hidraw",.*ATTRS\{idVendor\}=="0590", ATTRS\{idProduct\}=="004b".*TAG\+="uaccess"' \
  "$rule" || fail "rule: hidraw node"
grep -Eq '^SUBSYSTEM=="usb",.*ATTR\{idVendor\}=="0590", ATTR\{idProduct\}=="004b".*TAG\+="uaccess"' \
  "$rule" || fail "rule: USB device node"
grep -Eq '^SUBSYSTEM=="tty",.*idVendor\}=="0590".*ENV\{ID_MM_DEVICE_IGNORE\}="1"' "$rule" ||
  fail "rule: the modem manager is not told to leave the unit's ports alone"
grep -E '^SUBSYSTEM' "$rule" | grep -v '=="0590".*=="004b"' && fail "rule: a line for another device"

# -- The dashboard's service: a sound unit, disabled until enabled, as its own system user
# made by the maintainer script; its settings a conffile the service reads.
service=$root/usr/lib/systemd/system/morlane-dashboard.service
mkdir -p "$work/units"
cp "$service" "$work/units/"
# The unit's program as installed: the check looks for it on this machine's path.
sed -i "s|/usr/bin/morlane-cli|$root/usr/bin/morlane-cli|" "$work/units/morlane-dashboard.service"
if command -v systemd-analyze >/dev/null; then
  SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --man=no \
    "$work/units/morlane-dashboard.service" >"$work/unit.log" 2>&1 ||
    { cat "$work/unit.log" >&2; fail "systemd-analyze verify: the dashboard's service"; }
  grep -v 'network-online\|postgresql' "$work/unit.log" | grep . &&
    fail "systemd-analyze verify warns about the dashboard's service"
fi
grep -qx 'User=morlane-dashboard' "$service" || fail "the service does not run as its own user"
grep -qx 'EnvironmentFile=/etc/default/morlane-dashboard' "$service" ||
  fail "the service does not read its settings"
dpkg-deb -e "$deb" "$work/control"
grep -qx /etc/default/morlane-dashboard "$work/control/conffiles" || fail "settings not a conffile"
grep -q 'adduser --system --group' "$work/control/postinst" || fail "postinst makes no user"
grep -Eq 'systemctl (enable|start)' "$work/control/postinst" &&
  fail "postinst enables or starts the service"
for script in postinst prerm postrm; do
  sh -n "$work/control/$script" || fail "$script does not parse"
done

# -- Desktop entry, AppStream data (the unit's USB id as a modalias), lintian.
desktop=$root/usr/share/applications/org.morlane.Morlane.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -qx 'Exec=morlane' "$desktop" || fail "desktop entry does not start morlane"
station_desktop=$root/usr/share/applications/org.morlane.MorlaneStation.desktop
desktop-file-validate "$station_desktop" || fail "desktop-file-validate: the station's entry"
grep -qx 'Exec=morlane --choose-station' "$station_desktop" ||
  fail "the station's desktop entry does not ask for a profile"
metainfo=$root/usr/share/metainfo/org.morlane.Morlane.metainfo.xml
appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1 ||
  { cat "$work/appstream.log" >&2; fail "appstreamcli validate"; }
grep -q '<modalias>usb:v0590p004Bd\*</modalias>' "$metainfo" || fail "metainfo: modalias"
# Warnings are left to the maintainers' judgement; errors are not.
lintian --fail-on error --suppress-tags-from-file /dev/null "$deb" >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log" >&2; fail "lintian reports errors"; }

# -- Manual pages: rendered without a warning; morlane-cli's lists every command its
# --help lists.
for page in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1) || fail "$page does not render"
  [[ -z $warnings ]] || fail "$page: $warnings"
  zcat "$page" | grep -q '^\.SH EXAMPLES$' || fail "$page has no EXAMPLES"
done
# The station profile's page, written by hand: renders without a warning.
station_page=$root/usr/share/man/man5/morlane-station.5.gz
warnings=$(zcat "$station_page" | groff -man -Tutf8 -ww -z 2>&1) || fail "$station_page does not render"
[[ -z $warnings ]] || fail "$station_page: $warnings"
cli=$root/usr/bin/morlane-cli
commands=$("$cli" --help | awk '/^Subcommands:/{on=1; next} on && NF {print $1}')
[[ -n $commands ]] || fail "morlane-cli --help lists no commands"
manual=$(MANWIDTH=100 man -l "$root/usr/share/man/man1/morlane-cli.1.gz" 2>/dev/null)
for command in $commands; do
  grep -Eq "^   $command( |$)" <<<"$manual" || fail "manual page lacks the command $command"
done

# -- The completion script: loads in bash, completes the commands and a command's options.
completion=$root/usr/share/bash-completion/completions/morlane-cli
complete_words() {
  bash -c 'source "$1" && complete -p morlane-cli >/dev/null && shift &&
           COMP_WORDS=("$@") && COMP_CWORD=$(($# - 1)) && _morlane_cli &&
           printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' _ "$completion" "$@"
}
got=$(complete_words morlane-cli '')
[[ $got == "$(sort <<<"$commands" | tr '\n' ' ')" ]] || fail "commands completed: $got"
got=$(complete_words morlane-cli --quiet open --link '')
[[ $got == "com usb " ]] || fail "open --link completed: $got"
got=$(complete_words morlane-cli --dir /tmp flash --c)
[[ $got == "--cpu " ]] || fail "flash --c completed: $got"
got=$(complete_words morlane-cli test --commands Q1,F)
[[ $got == "Q1,FWV " ]] || fail "test --commands Q1,F completed: $got"
got=$(complete_words morlane-cli --simulate-fault refu)
[[ $got == "1:refuse-erase " ]] || fail "--simulate-fault refu completed: $got"

# -- The programs as unpacked, with the system's libraries.
for program in morlane-cli morlane-unit-sim morlane; do
  out=$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/$program" --version) ||
    fail "$program --version failed"
  [[ $out == "$program $version" ]] || fail "$program --version printed: $out"
done

# Both CPUs of the simulated unit programmed by the unpacked morlane-cli, started in a
# directory holding the package's own sample images, as a technician tries the installed
# one.
"$root/usr/bin/morlane-sample-images" "$work/images" >/dev/null ||
  fail "morlane-sample-images failed"
if out=$(cd "$work/images" && "$cli" --simulate --quiet auto 2>&1); then
  [[ $(grep -c '^Flash verified Successful!!' <<<"$out") == 2 ]] ||
    fail "auto did not program both CPUs: $out"
else
  fail "morlane-cli --simulate auto failed: $out"
fi

# A service package made, signed and checked by the unpacked morlane-cli: the signature
# library as the package's program links it.
if command -v ssh-keygen >/dev/null; then
  ssh-keygen -q -t ed25519 -N '' -C release -f "$work/release" ||
    fail "ssh-keygen made no key"
  printf 'release namespaces="morlane-package" %s\n' "$(cat "$work/release.pub")" >"$work/signers"
  (cd "$work/images" && "$cli" package create "$work/p.mlpkg" --model M --release 1 \
    --sign-with "$work/release" master.bin slave.bin >/dev/null) || fail "package create failed"
  out=$("$cli" --trusted-keys "$work/signers" package inspect "$work/p.mlpkg" 2>&1) ||
    fail "package inspect refused the package it made: $out"
fi

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package: $(basename "$deb") checked"
