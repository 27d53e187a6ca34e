#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
# Safe to run again: it installs nothing that is already there.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev
  libhidapi-dev
  libcli11-dev
  libsqlite3-dev
  libpq-dev postgresql libxlsxwriter-dev
  libcpp-httplib-dev libssl-dev libjs-chart.js chromium chromium-driver python3-selenium
  googletest libgtest-dev libgmock-dev
  fonts-dejavu-core
  g++-mingw-w64-x86-64-posix wine wine64 fonts-wine xvfb xauth
  clang-14 libfuzzer-14-dev
  tcl make python3-jsonschema libtomlplusplus-dev nlohmann-json3-dev
  libminizip-dev libgcrypt20-dev libgcrypt-mingw-w64-dev libz-mingw-w64-dev openssh-client
  dpkg-dev lintian desktop-file-utils appstream bash-completion groff-base man-db
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if ((${#missing[@]} == 0)); then
  echo "setup: all packages present"
  exit 0
fi

if [[ $(id -u) -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "setup: missing packages (${missing[*]}) and no way to install them as root" >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
