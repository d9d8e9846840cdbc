#!/usr/bin/env bash
# Builds, from a Release build, the Debian package and the portable folder:
#   build-package/quelvo_<version>_amd64.deb
#   build-package/quelvo-<version>-linux-x86_64.tar.gz   (one folder Quelvo/)
# Usage: tools/package.sh [RELEASE_KEY.pem]
# With the release's private key, the programs are built trusting its public half (derived here
# with openssl, the key read from its file), and the two executables of the portable folder are
# signed with tools/sign.sh before they go into the tarball (the self-update accepts only
# executables signed with the key built into the running program). The script stops when the key
# built in is not the public half of the key given. Without a key, the programs are built with
# src/monitor/release-public-key.pem and go unsigned, and the script says so.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

usage() { echo "Uso: tools/package.sh [CHAVE_PRIVADA.pem]" >&2; exit 2; }
[ $# -le 1 ] || usage
key=""
if [ $# -eq 1 ]; then
  case "$1" in -h|--help|--ajuda) usage ;; esac
  key=$(realpath -e "$1" 2>/dev/null) || { echo "A chave $1 não existe." >&2; exit 2; }
  if [ ! -x tools/sign.sh ]; then
    echo "Não há tools/sign.sh para assinar com a chave $1: nada foi empacotado." >&2
    exit 1
  fi
fi

bash tools/install-deps.sh --pacote

version=$(sed -n 's/^set(QUELVO_VERSION \([0-9.]*\))$/\1/p' CMakeLists.txt)
changelog=$(sed -n '1s/^quelvo (\([^)]*\)).*/\1/p' dist/linux/changelog)
if [ "$version" != "$changelog" ]; then
  echo "dist/linux/changelog começa com a versão $changelog, e o programa é $version." >&2
  exit 1
fi
arch=$(dpkg --print-architecture)
[ "$arch" = amd64 ] || { echo "O pacote é feito numa máquina amd64 (esta é $arch)." >&2; exit 1; }

out="$root/build-package"
stage="$out/stage"
rm -rf "$stage" "$out"/quelvo_*.deb "$out"/quelvo-*.tar.gz

# The public key the programs are built with: the public half of the release key (a signed
# release must accept the next one), or, without a key, the repository's file (an empty value
# undoes a key an earlier run left in the build's cache).
pubkey=""
if [ -n "$key" ]; then
  mkdir -p "$out"
  pubkey="$out/release-public.pem"
  if ! openssl pkey -in "$key" -pubout -out "$pubkey"; then
    echo "Não foi possível tirar a chave pública de $1: deve ser uma chave privada Ed25519 em PEM." >&2
    exit 1
  fi
fi

# Debian's hardening flags (stack protector, fortify, relro and now, PIE).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DQUELVO_BUILD_TESTS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  -DQUELVO_RELEASE_PUBKEY="$pubkey" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$out" -j "$(nproc)" --target quelvo quelvo-monitor quelvo_dist

# The .deb: CPack from the install rules of dist/, dependencies by dpkg-shlibdeps.
(cd "$out" && cpack -G DEB >/dev/null)
deb="$out/quelvo_${version}_${arch}.deb"
[ -f "$deb" ] || { echo "CPack não fez $deb." >&2; exit 1; }

# The same stripped executables for the portable folder.
DESTDIR="$stage" cmake --install "$out" --strip >/dev/null
# The units as systemd reads them (an instance of the template), with ExecStart pointed at the
# staged program; systemd-analyze exits 0 on lines it ignores, so anything it says is a fault.
units=$(mktemp -d)
trap 'rm -rf "$units"' EXIT
sed "s#/usr/bin/#$stage/usr/bin/#" "$stage/usr/lib/systemd/system/quelvo-monitor@.service" \
  > "$units/quelvo-monitor@escritorio.service"
sed "s#/usr/bin/#$stage/usr/bin/#" "$stage/usr/lib/systemd/user/quelvo-monitor.service" \
  > "$units/quelvo-monitor.service"
mkdir "$units/run"
verify=$( (systemd-analyze --man=no verify "$units/quelvo-monitor@escritorio.service" &&
  XDG_RUNTIME_DIR="$units/run" systemd-analyze --user --man=no verify \
    "$units/quelvo-monitor.service") 2>&1) && [ -z "$verify" ] && systemd_ok=1 || systemd_ok=0
# How exposed an office's instance is (systemd-analyze security, 0 to 10, lower is better).
exposure=$(systemd-analyze security --offline=true --no-pager \
  "$units/quelvo-monitor@escritorio.service" 2>&1 | sed -n 's/.*Overall exposure level for [^:]*: //p')

portable="$stage/portable/Quelvo"
mkdir -p "$portable"
install -m 0755 "$stage/usr/bin/quelvo" "$stage/usr/bin/quelvo-monitor" "$portable/"
install -m 0644 dist/portable/README "$portable/README"
# What it needs of Debian: the package's dependencies (the shared libraries dpkg-shlibdeps
# found, and Qt's platform plugins), without versions, and without what only the package uses.
dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/(.*)//; s/|.*//; s/ //g' |
  grep -v -x -e '' -e adduser | sort -u > "$portable/pacotes-debian.txt"
if [ -n "$key" ]; then
  # The key built into the desktop program, the one that updates itself (quelvo-monitor has no
  # self-update and carries no key), must be the public half of the key it is signed with: the
  # body of the PEM text (one line for an Ed25519 key) lies in the executable as it is.
  corpo=$(sed -n '2p' "$pubkey")
  if [ "$(wc -l < "$pubkey")" -ne 3 ] || [ -z "$corpo" ]; then
    echo "A chave pública de $1 não é uma chave Ed25519: nada foi assinado." >&2
    exit 1
  fi
  if ! grep -qaF -- "$corpo" "$portable/quelvo"; then
    echo "A chave pública compilada em quelvo não é a metade pública de $1: nada foi assinado." \
      "Uma versão assinada com essa chave recusaria todas as atualizações seguintes." >&2
    exit 1
  fi
  for exe in quelvo quelvo-monitor; do
    tools/sign.sh "$portable/$exe" "$key"
  done
  echo "Executáveis da pasta portátil assinados com $key."
else
  echo "Nenhuma chave de assinatura dada: os executáveis da pasta portátil NÃO estão assinados" \
    "(use tools/package.sh CHAVE_PRIVADA.pem para uma versão publicada no site)."
fi
tarball="$out/quelvo-${version}-linux-x86_64.tar.gz"
tar -C "$stage/portable" --sort=name --owner=0 --group=0 --numeric-owner \
  --mtime="@$(stat -c %Y dist/linux/changelog)" -cf - Quelvo | gzip -9n > "$tarball"

echo "== systemd-analyze verify (quelvo-monitor@.service, quelvo-monitor.service)"
[ -z "$verify" ] || echo "$verify"
echo "== systemd-analyze security quelvo-monitor@escritorio.service: ${exposure:-?}"
echo "== lintian"
lintian_rc=0
lintian --info "$deb" || lintian_rc=$?
echo "== appstreamcli validate"
appstream_rc=0
appstreamcli validate --no-net --pedantic \
  "$stage/usr/share/metainfo/br.com.travon.quelvo.metainfo.xml" || appstream_rc=$?
echo "== desktop-file-validate"
desktop-file-validate "$stage/usr/share/applications/quelvo.desktop"
echo "== $(basename "$deb"): $(du -k "$deb" | cut -f1) KiB"
echo "== $(basename "$tarball"): $(du -k "$tarball" | cut -f1) KiB"
[ "$lintian_rc" -eq 0 ] || { echo "lintian encontrou erros." >&2; exit 1; }
[ "$appstream_rc" -eq 0 ] || { echo "appstreamcli recusou o metainfo." >&2; exit 1; }
[ "$systemd_ok" -eq 1 ] || { echo "systemd-analyze verify recusou as unidades." >&2; exit 1; }
