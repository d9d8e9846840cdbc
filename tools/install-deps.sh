#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Used by ./test.sh and ./run.sh; safe to run again (it does nothing when all are present).
# With --pacote, also what tools/package.sh and tools/package-test.sh need.
set -euo pipefail

PACKAGES=(
  g++ cmake make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libcurl4-openssl-dev libssl-dev openssl zlib1g-dev libpugixml-dev
  libcpp-httplib-dev curl tinyproxy
  p11-kit p11-kit-modules libp11-kit-dev libengine-pkcs11-openssl softhsm2
  xvfb clang-format fonts-liberation
)
if [ "${1:-}" = "--pacote" ]; then
  # Building, judging and trying the Debian package: dpkg-shlibdeps and dpkg-buildflags,
  # lintian, the AppStream and desktop-entry validators, systemd-analyze, a screenshot of the
  # window under Xvfb; systemd booted in a container (systemd-nspawn) with a user's service
  # manager reachable on its session bus, and a stand-in site, for the system unit's checks.
  PACKAGES+=(dpkg-dev file lintian appstream desktop-file-utils systemd man-db x11-utils
    imagemagick systemd-container dbus-user-session python3)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Instalando pacotes: ${missing[*]}" >&2
if [ "$(id -u)" -eq 0 ]; then
  SUDO=()
elif command -v sudo >/dev/null 2>&1; then
  SUDO=(sudo)
else
  echo "Faltam pacotes (${missing[*]}) e não há root nem sudo para instalá-los." >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
