#!/usr/bin/env bash
# Builds, for 64-bit Windows (cross-compiled; Release), the portable folder as a zip:
#   build-package-win/quelvo-<version>-windows-x64.zip   (one folder Quelvo\)
# with quelvo-monitor.exe, the DLLs it needs beside it, OpenSSL's legacy provider in
# ossl-modules\ and LEIA-ME.txt.
# Usage: tools/windows/package.sh [RELEASE_KEY.pem]
# With the release's private key, the programs are built trusting its public half (derived here
# with openssl, the key read from its file) and the executables are signed with tools/sign.sh
# (the signature block after the PE image, as after the ELF one on Linux). Without it they go
# unsigned, and the script says so.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)

usage() { echo "Uso: tools/windows/package.sh [CHAVE_PRIVADA.pem]" >&2; exit 2; }
[ $# -le 1 ] || usage
key=""
if [ $# -eq 1 ]; then
  case "$1" in -h|--help|--ajuda) usage ;; esac
  key=$(realpath -e "$1" 2>/dev/null) || { echo "A chave $1 não existe." >&2; exit 2; }
fi

deps=$(tools/windows/deps.sh)
if ! command -v zip >/dev/null 2>&1; then
  SUDO=()
  [ "$(id -u)" -eq 0 ] || SUDO=(sudo)
  DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -q --no-install-recommends zip
fi

version=$(sed -n 's/^set(QUELVO_VERSION \([0-9.]*\))$/\1/p' CMakeLists.txt)
out="$root/build-package-win"
stage="$out/stage/Quelvo"
rm -rf "$out/stage" "$out"/quelvo-*-windows-x64.zip
mkdir -p "$stage/ossl-modules"

pubkey=""
if [ -n "$key" ]; then
  mkdir -p "$out"
  pubkey="$out/release-public.pem"
  if ! openssl pkey -in "$key" -pubout -out "$pubkey"; then
    echo "Não foi possível tirar a chave pública de $1: deve ser uma chave privada Ed25519 em PEM." >&2
    exit 1
  fi
fi
cmake -S . -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DQUELVO_WINDOWS_DEPS="$deps" -DCMAKE_BUILD_TYPE=Release -DQUELVO_BUILD_TESTS=OFF \
  -DQUELVO_RELEASE_PUBKEY="$pubkey" >/dev/null
cmake --build "$out" -j "$(nproc)" --target quelvo-monitor

x86_64-w64-mingw32-strip -o "$stage/quelvo-monitor.exe" "$out/src/quelvo-monitor.exe"
for dll in libcrypto-3-x64.dll libssl-3-x64.dll libcurl-4.dll libzlib.dll; do
  install -m 0644 "$deps/bin/$dll" "$stage/"
done
install -m 0644 "$deps/lib/ossl-modules/legacy.dll" "$stage/ossl-modules/"
# Windows' own editors expect CR LF.
sed 's/$/\r/' dist/windows/LEIA-ME.txt > "$stage/LEIA-ME.txt"

if [ -n "$key" ]; then
  tools/sign.sh "$stage/quelvo-monitor.exe" "$key"
  echo "Executáveis assinados com $key."
else
  echo "AVISO: sem a chave de lançamento, os executáveis vão sem assinatura." >&2
fi

zipfile="$out/quelvo-${version}-windows-x64.zip"
(cd "$out/stage" && zip -q -r -X "$zipfile" Quelvo)
echo "$zipfile ($(du -k "$zipfile" | cut -f1) KiB)"
