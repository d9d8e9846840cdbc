#!/usr/bin/env bash
# Builds the libraries of the Windows (x86_64-w64-mingw32) build from Debian's own source
# packages, of the very versions the Linux build uses, into a cache folder keyed by those versions
# and by the MinGW compiler's. Prints that folder on its last line of output (everything else goes
# to stderr), so that
#     cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#           -DQUELVO_WINDOWS_DEPS="$(tools/windows/deps.sh)"
# builds against it. When the folder for the current key is complete it only prints it.
#
#   QUELVO_WINDOWS_DEPS  the folder to build into (default ~/.cache/quelvo-windows/<key>); a
#                        folder holding another key is rebuilt and replaced whole
#   QUELVO_SOURCE_VERSIONS  "source=version ..." to build instead of the installed -dev
#                        package's version, of the same series (e.g.
#                        "openssl=3.0.20-1~deb12u2"); without it, when the apt sources cannot
#                        deliver the installed version, the newest of the series that they can
#                        is taken; either way the folder's notes say so
#   QUELVO_JOBS          parallel jobs (default: nproc)
#   QUELVO_KEEP_BUILD=1  keep the sources and build folders after a successful build
#
# What it does, in order:
#   1. installs the MinGW-w64 compilers (the -posix ones: std::thread and std::mutex need
#      them), Wine, CMake, Ninja and what `apt-get source` needs, as root or through sudo;
#   2. adds a deb-src entry for the suites of the machine's Debian deb entries when none exists;
#   3. derives the key from the versions of every library's -dev package and of the compiler;
#   4. builds zlib, OpenSSL 3.0, libcurl, pugixml and GoogleTest/GoogleMock in a work folder
#      beside the cache, installs each into a staging copy of the final folder, and moves the
#      staging copy into place only when every library is in it. A failed run leaves the
#      libraries it finished in the work folder; the next run goes on from the first one that
#      is missing.
#
# What the folder holds, and why:
#   - zlib, OpenSSL and libcurl are DLLs (libzlib.dll, libcrypto-3-x64.dll, libssl-3-x64.dll,
#     libcurl-4.dll, and OpenSSL's engines in lib/engines-3/, capi.dll among them). Only their
#     import libraries (*.dll.a) are installed, never static archives of them: the program hands
#     libcurl's TLS contexts to its own OpenSSL calls, so both must be the same libcrypto and
#     libssl. zlib's import library is installed under both libzlib.dll.a and libz.dll.a (-lz).
#   - pugixml and GoogleTest/GoogleMock are static archives. They are C++: as DLLs every
#     std::string and exception crossing into them would tie them to one shared C++ runtime.
#   - The C++ run time (libstdc++, libgcc, winpthread) is linked STATICALLY into every
#     executable and DLL the toolchain file builds (-static-libgcc -static-libstdc++ and the
#     whole of libwinpthread.a). Reasons: nothing of the compiler's to ship or to mismatch
#     (another program's libstdc++-6.dll on PATH is a classic MinGW fault), one fewer set of
#     DLLs in the setup file, and the C libraries above do not use it at all (they import only
#     Windows' own DLLs and msvcrt.dll; checked after the build). The cost, a few hundred KB per
#     executable, is small. cmake/WindowsRuntime.cmake copies the DLLs above beside the
#     executables.
#   - OpenSSL's compiled-in folders (OPENSSLDIR, ENGINESDIR, MODULESDIR) are those of
#     OpenSSL's own Windows builds, under C:\Program Files, not the prefix (see build_openssl).
#     The program must load the legacy provider and the capi engine from its own folder:
#     OSSL_PROVIDER_set_default_search_path, and the dynamic engine's SO_PATH.
#
# Qt: not built yet. It goes in as one more build_* function and one more line in LIBRARIES,
# after the others (see QT below).
set -euo pipefail

# Raise when the way any library is built changes: it is part of the key, so every cache built
# the old way is left aside.
RECIPE=2
TRIPLET=x86_64-w64-mingw32
CC_CROSS=${TRIPLET}-gcc-posix
REPO=$(cd "$(dirname "$0")/../.." && pwd)
TOOLCHAIN=$REPO/cmake/mingw-w64-x86_64.cmake
JOBS=${QUELVO_JOBS:-$(nproc)}

log() { printf '%s\n' "$*" >&2; }
die() { log "deps.sh: $*"; exit 1; }

# ---------------------------------------------------------------------------------------------
# 1. Packages of the machine
# ---------------------------------------------------------------------------------------------
PACKAGES=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools wine wine64
  cmake ninja-build make perl pkgconf dpkg-dev xz-utils
  # The versions of these are the ones rebuilt for Windows.
  zlib1g-dev libssl-dev libcurl4-openssl-dev libpugixml-dev libgtest-dev libgmock-dev
)

SUDO=()
as_root() {
  if [ "$(id -u)" -ne 0 ] && [ ${#SUDO[@]} -eq 0 ]; then
    command -v sudo >/dev/null 2>&1 || die "é preciso root ou sudo para: $*"
    SUDO=(sudo)
  fi
  "${SUDO[@]}" "$@"
}

# apt-get waits for another apt-get of the machine instead of failing at once.
APT=(env DEBIAN_FRONTEND=noninteractive apt-get -q -o DPkg::Lock::Timeout=900)

install_packages() {
  local missing=() p
  for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "Instalando pacotes: ${missing[*]}"
  as_root "${APT[@]}" update
  as_root "${APT[@]}" install -y --no-install-recommends "${missing[@]}"
}

# ---------------------------------------------------------------------------------------------
# 2. deb-src entries
# ---------------------------------------------------------------------------------------------
CODENAME=$(. /etc/os-release && printf '%s' "${VERSION_CODENAME:-}")
DEBSRC_FILE=/etc/apt/sources.list.d/quelvo-deb-src.sources

# Every entry of the machine's sources, one per line: "type<TAB>uri<TAB>suite<TAB>components
# <TAB>signed-by", from the one-line format (sources.list, *.list) and from deb822 (*.sources).
# Disabled stanzas and commented lines are left out, and so is a Signed-By that holds the key
# itself (on continued lines) instead of naming its file.
apt_entries() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk '
      /^[ \t]*(deb|deb-src)[ \t]/ {
        sub(/#.*/, ""); type = $1; i = 2; signed = ""
        if ($i ~ /^\[/) {                       # [ option=value ... ]
          opts = ""
          while (i <= NF) { opts = opts " " $i; if ($i ~ /\]$/) { i++; break } i++ }
          if (match(opts, /signed-by=[^ \]]+/)) signed = substr(opts, RSTART + 10, RLENGTH - 10)
        }
        uri = $i; suite = $(i + 1); comps = ""
        for (j = i + 2; j <= NF; j++) comps = comps (comps == "" ? "" : " ") $j
        print type "\t" uri "\t" suite "\t" comps "\t" signed
      }' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk '
      function flush(   nt, nu, ns, t, u, s, types, uris, suites) {
        if (enabled != "no" && f["types"] != "") {
          nt = split(f["types"], types, /[ \t]+/)
          nu = split(f["uris"], uris, /[ \t]+/)
          ns = split(f["suites"], suites, /[ \t]+/)
          for (t = 1; t <= nt; t++) for (u = 1; u <= nu; u++) for (s = 1; s <= ns; s++)
            if (types[t] != "" && uris[u] != "" && suites[s] != "")
              print types[t] "\t" uris[u] "\t" suites[s] "\t" f["components"] "\t" f["signed-by"]
        }
        delete f; enabled = ""; key = ""
      }
      /^#/ { next }
      /^[ \t]*$/ { flush(); next }
      /^[ \t]/ { if (key == "signed-by") f[key] = ""; next }   # continued line: an inline key
      {
        key = tolower(substr($0, 1, index($0, ":") - 1))
        val = substr($0, index($0, ":") + 1); gsub(/^[ \t]+|[ \t]+$/, "", val)
        if (key == "enabled") enabled = tolower(val); else f[key] = val
      }
      END { flush() }' "$f"
  done
}

# The machine's Debian suites: those of its deb entries named after its release (bookworm,
# bookworm-updates, bookworm-security...). A third party's entry (other suite names) is left
# alone: it may have no sources at all.
ensure_deb_src() {
  [ -n "$CODENAME" ] || die "não sei a versão do Debian (VERSION_CODENAME em /etc/os-release)"
  local entries
  entries=$(apt_entries | awk -F'\t' -v c="$CODENAME" '$3 == c || index($3, c "-") == 1')
  [ -n "$entries" ] || die "nenhuma entrada deb de $CODENAME nas fontes do apt"
  if printf '%s\n' "$entries" | awk -F'\t' -v c="$CODENAME" '$1 == "deb-src" && $3 == c { f = 1 }
      END { exit !f }'; then
    return 0
  fi
  log "Acrescentando as fontes (deb-src) de $CODENAME em $DEBSRC_FILE"
  local stanzas
  stanzas=$(printf '%s\n' "$entries" | awk -F'\t' '
    $1 == "deb" {
      id = $2 "\t" $4 "\t" $5
      if (!(id in suites)) { order[++n] = id; suites[id] = $3 }
      else if ((" " suites[id] " ") !~ (" " $3 " ")) suites[id] = suites[id] " " $3
    }
    END {
      for (i = 1; i <= n; i++) {
        split(order[i], p, "\t")
        printf "%sTypes: deb-src\nURIs: %s\nSuites: %s\nComponents: %s\n", (i > 1 ? "\n" : ""),
          p[1], suites[order[i]], p[2]
        if (p[3] != "") printf "Signed-By: %s\n", p[3]
      }
    }')
  printf '%s\n' "# deb-src of the suites of the deb entries (Quelvo, tools/windows/deps.sh)" \
    "$stanzas" | as_root tee "$DEBSRC_FILE" >/dev/null
  as_root "${APT[@]}" update
}

# ---------------------------------------------------------------------------------------------
# 3. Versions and the key
# ---------------------------------------------------------------------------------------------
# library name, the -dev package whose source is rebuilt
LIBRARIES=(
  "zlib zlib1g-dev"
  "openssl libssl-dev"
  "curl libcurl4-openssl-dev"
  "pugixml libpugixml-dev"
  "googletest libgtest-dev"
  # QT: "qtbase qt6-base-dev" here, and a build_qtbase function below.
)
COMPILER_PACKAGES=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64)

installed_version() { dpkg-query -W -f='${Version}' "$1"; }
source_of() { dpkg-query -W -f='${source:Package}' "$1"; }
# The versions of a source package that the deb-src entries offer.
source_versions() { apt-cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p'; }
# 1:1.2.13.dfsg-1 -> 1.2.13
upstream() { printf '%s' "$1" | sed -E 's/^[0-9]+://; s/-[^-]*$//; s/[.+~]dfsg[0-9]*$//'; }

# The source version of each library: the installed -dev package's. The archive may no longer
# hold that source (a machine not brought up to date after a security update), or a mirror may
# lack some of its files (its index names a version whose .dsc is missing). Then the newest
# version of the same series (same first two numbers) that can be fetched is built instead, and
# the folder's notes say so; QUELVO_SOURCE_VERSIONS names one by hand. Which versions could be
# fetched is remembered beside the caches, so that a run from the cache fetches nothing.
declare -A SRC_PACKAGE SRC_VERSION LINUX_VERSION
series() { upstream "$1" | cut -d. -f1-2; }
# The versions worth trying for a library, best first: the installed one, then the others of its
# series that the deb-src entries offer, newest first.
candidates() {
  local src=$1 ver=$2 offered
  offered=$(source_versions "$src" | sort -urV)
  if printf '%s\n' "$offered" | grep -qxF -- "$ver"; then
    printf '%s\n' "$ver"
  fi
  printf '%s\n' "$offered" | while IFS= read -r v; do
    [ -n "$v" ] && [ "$v" != "$ver" ] && [ "$(series "$v")" = "$(series "$ver")" ] &&
      printf '%s\n' "$v"
  done
  return 0
}
# Whether apt can fetch that source (every file of it), tried in a scratch folder.
fetchable() {
  local scratch ok=1
  scratch=$(mktemp -d)
  (cd "$scratch" && apt-get source -q --download-only "$1=$2" >/dev/null 2>&1) || ok=0
  rm -rf "$scratch"
  [ "$ok" = 1 ]
}
resolve_versions() {
  local entry name dev src ver chosen list memo choice
  declare -A override=()
  for chosen in ${QUELVO_SOURCE_VERSIONS:-}; do
    [[ $chosen == *=* ]] || die "QUELVO_SOURCE_VERSIONS: esperava pacote=versão, não $chosen"
    override[${chosen%%=*}]=${chosen#*=}
  done
  local cache_root=${QUELVO_WINDOWS_DEPS:+$(dirname "${QUELVO_WINDOWS_DEPS%/}")}
  cache_root=${cache_root:-$HOME/.cache/quelvo-windows}
  mkdir -p "$cache_root"
  for entry in "${LIBRARIES[@]}"; do
    read -r name dev <<<"$entry"
    src=$(source_of "$dev")
    ver=$(installed_version "$dev")
    LINUX_VERSION[$name]=$ver
    SRC_PACKAGE[$name]=$src
    if [ -n "${override[$src]:-}" ]; then
      [ "$(series "${override[$src]}")" = "$(series "$ver")" ] || die "QUELVO_SOURCE_VERSIONS:" \
        "$src ${override[$src]} não é da série $(series "$ver") de $dev $ver"
      SRC_VERSION[$name]=${override[$src]}
      unset "override[$src]"
      continue
    fi
    list=$(candidates "$src" "$ver")
    memo=$cache_root/.fontes-$(printf '%s\n%s\n' "$src $ver" "$list" | sha256sum | cut -c1-16)
    if [ -f "$memo" ]; then
      SRC_VERSION[$name]=$(cat "$memo")
      continue
    fi
    choice=""
    while IFS= read -r chosen; do
      [ -n "$chosen" ] || continue
      if fetchable "$src" "$chosen"; then
        choice=$chosen
        break
      fi
      log "$src $chosen: as fontes do apt não a entregam inteira; tentando outra da mesma série"
    done <<<"$list"
    if [ -z "$choice" ]; then
      die "nenhuma versão de $src da série $(series "$ver") (a de $dev $ver) pode ser baixada" \
        "das fontes do apt (há: $(source_versions "$src" | sort -uV | tr '\n' ' '))"
    fi
    printf '%s\n' "$choice" >"$memo"
    SRC_VERSION[$name]=$choice
  done
  [ ${#override[@]} -eq 0 ] ||
    die "QUELVO_SOURCE_VERSIONS: não são destas bibliotecas: ${!override[*]}"
  for entry in "${LIBRARIES[@]}"; do
    read -r name dev <<<"$entry"
    [ "${SRC_VERSION[$name]}" = "${LINUX_VERSION[$name]}" ] ||
      log "AVISO: ${SRC_PACKAGE[$name]} ${SRC_VERSION[$name]} para Windows; a compilação para" \
        "Linux usa ${LINUX_VERSION[$name]} (a fonte dessa versão não pode ser baixada)."
  done
}

# The text that names what the folder holds; the key is its digest, after the upstream versions
# (readable in the folder's name).
manifest() {
  local entry name dev p
  printf 'recipe %s\n' "$RECIPE"
  for p in "${COMPILER_PACKAGES[@]}"; do printf '%s %s\n' "$p" "$(installed_version "$p")"; done
  for entry in "${LIBRARIES[@]}"; do
    read -r name dev <<<"$entry"
    printf '%s %s\n' "${SRC_PACKAGE[$name]}" "${SRC_VERSION[$name]}"
  done
}

cache_key() {
  local entry name dev short
  short="gcc$(upstream "$(installed_version g++-mingw-w64-x86-64-posix)")"
  for entry in "${LIBRARIES[@]}"; do
    read -r name dev <<<"$entry"
    short+="-${name}$(upstream "${SRC_VERSION[$name]}")"
  done
  printf '%s-%s' "$short" "$(manifest | sha256sum | cut -c1-10)"
}

# ---------------------------------------------------------------------------------------------
# 4. The libraries
# ---------------------------------------------------------------------------------------------
# Each build_<name> runs in the library's unpacked source folder, builds with PREFIX as its
# install prefix and installs under DESTDIR=$1. The libraries built before it are in $STAGED
# (the staging copy of PREFIX).

cmake_build() {  # destdir, cmake options...
  local destdir=$1; shift
  QUELVO_WINDOWS_DEPS=$STAGED cmake -S . -B _build -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" -DCMAKE_INSTALL_LIBDIR=lib "$@" >&2
  cmake --build _build -j "$JOBS" >&2
  DESTDIR=$destdir cmake --install _build >&2
}

build_zlib() {
  local v
  v=$(sed -n 's/^#define ZLIB_VERSION "\(.*\)"/\1/p' zlib.h)
  # Debian's tarball has no win32/ folder, where the DLL's version resource lives.
  if [ ! -f win32/zlib1.rc ]; then
    mkdir -p win32
    cat >win32/zlib1.rc <<RC
#include <winver.h>

1 VERSIONINFO
  FILEVERSION ${v//./,},0
  PRODUCTVERSION ${v//./,},0
  FILEFLAGSMASK VS_FFI_FILEFLAGSMASK
  FILEOS VOS_NT_WINDOWS32
  FILETYPE VFT_DLL
  FILESUBTYPE 0
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904E4"
    BEGIN
      VALUE "FileDescription", "zlib data compression library"
      VALUE "FileVersion", "$v"
      VALUE "InternalName", "libzlib.dll"
      VALUE "LegalCopyright", "(C) 1995-2022 Jean-loup Gailly & Mark Adler"
      VALUE "ProductName", "zlib"
      VALUE "ProductVersion", "$v"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x0409, 1252
  END
END
RC
  fi
  cmake_build "$1" -DINSTALL_PKGCONFIG_DIR="$PREFIX/lib/pkgconfig"
  local lib=$1$PREFIX/lib
  # One zlib, the DLL: no static copy beside it, and the name -lz looks for.
  rm -f "$lib/libzlibstatic.a"
  cp "$lib/libzlib.dll.a" "$lib/libz.dll.a"
}

build_openssl() {
  # enable-capieng: the engine that reaches the certificates of Windows' own stores.
  ./Configure mingw64 --cross-compile-prefix="$TRIPLET-" CC=gcc-posix CXX=g++-posix \
    shared enable-capieng no-tests --prefix="$PREFIX" --libdir=lib >&2
  perl configdata.pm --options | tee configure-summary.txt >&2
  awk '/^Enabled features:/ { on = 1 } /^Disabled features:/ { on = 0 }
       on && $1 == "capieng" && NF == 1 { found = 1 } END { exit !found }' configure-summary.txt ||
    die "OpenSSL: a engine capi não ficou entre as funções ligadas (enable-capieng)"
  # The folders libcrypto reads openssl.cnf from and loads engines and providers named without a
  # path from are compiled in. The install prefix (a path of this machine) would mean
  # \root\.cache\... on the current drive under Windows, a folder any user may create: another
  # user could plant a configuration or a DLL there. The folders of OpenSSL's own Windows
  # builds, which only administrators can write, are compiled in instead; the install itself
  # goes to the prefix. The program loads its own modules from its own folder.
  make -j "$JOBS" build_sw \
    OPENSSLDIR="C:/Program Files/Common Files/SSL" \
    ENGINESDIR="C:/Program Files/OpenSSL/lib/engines-3" \
    MODULESDIR="C:/Program Files/OpenSSL/lib/ossl-modules" >&2
  make install_sw DESTDIR="$1" >&2
  "$TRIPLET-strings" "$1$PREFIX/bin/libcrypto-3-x64.dll" |
    grep -F "C:/Program Files/Common Files/SSL" >/dev/null ||
    die "OpenSSL: a pasta da configuração não foi compilada como pedido"
  # The program links the DLLs only (see the header).
  rm -f "$1$PREFIX/lib/libcrypto.a" "$1$PREFIX/lib/libssl.a"
}

build_curl() {
  # No CA bundle or folder of this machine compiled in: the program names its trust anchors.
  # --disable-pthreads: the name resolver's threads are Windows' own; with winpthread's
  # pthread.h in the compiler's sysroot configure would take it, and libcurl-4.dll would need
  # libwinpthread-1.dll.
  ./configure --host="$TRIPLET" --prefix="$PREFIX" CC="$CC_CROSS" \
    --enable-shared --disable-static --disable-pthreads \
    --with-openssl="$STAGED" --with-zlib="$STAGED" \
    --without-ca-bundle --without-ca-path \
    --disable-ldap --disable-ldaps --without-libssh2 --without-nghttp2 --without-libpsl \
    --without-brotli --without-zstd --without-libidn2 >&2
  make -j "$JOBS" >&2
  make install DESTDIR="$1" >&2
}

build_pugixml() {
  cmake_build "$1" -DBUILD_SHARED_LIBS=OFF -DPUGIXML_BUILD_TESTS=OFF
}

build_googletest() {
  cmake_build "$1" -DBUILD_SHARED_LIBS=OFF -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
}

# ---------------------------------------------------------------------------------------------
# Main
# ---------------------------------------------------------------------------------------------
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { s = b - a; printf "%dm%04.1fs", s / 60, s % 60 }'; }

main() {
  install_packages
  ensure_deb_src
  resolve_versions
  local key
  key=$(cache_key)
  PREFIX=${QUELVO_WINDOWS_DEPS:-$HOME/.cache/quelvo-windows/$key}
  case $PREFIX in /*) ;; *) die "QUELVO_WINDOWS_DEPS deve ser um caminho absoluto: $PREFIX" ;; esac
  PREFIX=${PREFIX%/}
  case $PREFIX/ in
    "$REPO"/*) die "a pasta das bibliotecas não pode ficar no repositório: $PREFIX" ;;
  esac
  local marker=$PREFIX/quelvo-windows-deps.txt
  if [ -f "$marker" ] && [ "$(sed -n 's/^key //p' "$marker")" = "$key" ]; then
    log "Bibliotecas para Windows prontas em $PREFIX"
    printf '%s\n' "$PREFIX"
    return 0
  fi

  # A folder of another key is replaced at the end; never one that is not of this script's.
  if [ -e "$PREFIX" ] && [ ! -f "$marker" ] && [ -n "$(ls -A "$PREFIX")" ]; then
    die "$PREFIX existe e não é uma pasta destas bibliotecas; não a substituo"
  fi

  local parent base
  parent=$(dirname "$PREFIX")
  base=$(basename "$PREFIX")
  mkdir -p "$parent"
  # Two runs at once in the same folder: the second waits, then finds its folder done or goes
  # on with the libraries the first did not finish.
  exec 9>"$parent/.quelvo-windows-deps.lock"
  if ! flock -n 9; then
    log "Outra execução está montando bibliotecas em $parent; esperando por ela..."
    flock 9
  fi
  if [ -f "$marker" ] && [ "$(sed -n 's/^key //p' "$marker")" = "$key" ]; then
    log "Bibliotecas para Windows prontas em $PREFIX"
    printf '%s\n' "$PREFIX"
    return 0
  fi

  # The work folder is beside the final one (same file system: the last move is a rename). Any
  # other work folder of this script here is a leftover of a key no longer in use (the lock
  # keeps every other run out).
  WORK=$parent/.$base.work-${key##*-}
  local old
  for old in "$parent"/.*.work-*; do
    [ -f "$old/.quelvo-windows-deps-work" ] && [ "$old" != "$WORK" ] && rm -rf "$old"
  done
  local stage=$WORK/stage
  STAGED=$stage$PREFIX
  mkdir -p "$STAGED" "$WORK/src"
  touch "$WORK/.quelvo-windows-deps-work"
  log "Montando as bibliotecas para Windows em $PREFIX (trabalho em $WORK)"
  manifest | sed 's/^/  /' >&2

  local entry name dev t0 t1 total0 times=()
  total0=$(now)
  for entry in "${LIBRARIES[@]}"; do
    read -r name dev <<<"$entry"
    if [ -f "$WORK/done-$name" ]; then
      log "== $name: já montada numa execução anterior"
      times+=("$name: já montada")
      continue
    fi
    log "== $name ${SRC_VERSION[$name]}"
    t0=$(now)
    local srcdir=$WORK/src/$name destdir=$WORK/install-$name
    rm -rf "$srcdir" "$destdir"
    mkdir -p "$srcdir"
    if ! (cd "$srcdir" && apt-get source -q "${SRC_PACKAGE[$name]}=${SRC_VERSION[$name]}" >&2); then
      # What the sources delivered before may be gone: the next run chooses again.
      rm -f "$(dirname "$PREFIX")"/.fontes-*
      log "$name: apt-get source ${SRC_PACKAGE[$name]}=${SRC_VERSION[$name]} falhou"
      die "rode de novo para escolher outra versão da mesma série, ou nomeie uma:" \
        "QUELVO_SOURCE_VERSIONS=\"${SRC_PACKAGE[$name]}=VERSÃO\" $0"
    fi
    local unpacked
    unpacked=$(find "$srcdir" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    [ -n "$unpacked" ] || die "$name: apt-get source não deixou uma pasta em $srcdir"
    (cd "$unpacked" && "build_$name" "$destdir")
    [ -d "$destdir$PREFIX" ] || die "$name: nada instalado em $destdir$PREFIX"
    cp -a "$destdir$PREFIX/." "$STAGED/"
    rm -rf "$destdir"
    [ "${QUELVO_KEEP_BUILD:-0}" = 1 ] || rm -rf "$srcdir"
    touch "$WORK/done-$name"
    t1=$(now)
    times+=("$name: $(elapsed "$t0" "$t1")")
    log "== $name: $(elapsed "$t0" "$t1")"
  done

  # Nothing may need the compiler's run-time DLLs (see the header).
  local f runtime
  for f in "$STAGED"/bin/*.dll "$STAGED"/bin/*.exe "$STAGED"/lib/*/*.dll; do
    runtime=$("$TRIPLET-objdump" -p "$f" |
      sed -n 's/^\tDLL Name: \(libwinpthread-1\|libgcc_s_seh-1\|libstdc++-6\)\.dll$/\1/p')
    [ -z "$runtime" ] || die "$f precisa de $runtime.dll"
  done

  # libtool's archives and the build's own paths: none of them is of use from the final folder.
  find "$STAGED" -name '*.la' -delete
  local leftovers
  leftovers=$(grep -rlF -- "$stage" "$STAGED" || true)
  if [ -n "$leftovers" ]; then
    # Text files (.pc, curl-config) that name the staging copy of an earlier library.
    printf '%s\n' "$leftovers" | while IFS= read -r f; do
      grep -qI . "$f" || die "o binário $f guarda o caminho provisório $stage"
      sed -i "s|$stage||g" "$f"
    done
  fi
  {
    manifest
    printf 'key %s\n' "$key"
    for entry in "${LIBRARIES[@]}"; do
      read -r name dev <<<"$entry"
      [ "${LINUX_VERSION[$name]}" = "${SRC_VERSION[$name]}" ] ||
        printf 'note %s for Linux: %s\n' "$dev" "${LINUX_VERSION[$name]}"
    done
  } >"$STAGED/quelvo-windows-deps.txt"

  # Into place: the old folder (another key) goes aside first, then away.
  if [ -e "$PREFIX" ]; then
    mv "$PREFIX" "$WORK/previous"
  fi
  mv "$STAGED" "$PREFIX"
  rm -rf "$WORK"
  log "Tempos:"
  printf '  %s\n' "${times[@]}" >&2
  log "  total: $(elapsed "$total0" "$(now)")"
  log "Bibliotecas para Windows prontas em $PREFIX"
  printf '%s\n' "$PREFIX"
}

# Sourced (for a look at one function), it only defines them.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  main "$@"
fi
