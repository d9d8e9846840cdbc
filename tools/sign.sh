#!/usr/bin/env bash
# Signs a Quelvo executable with the release key, or checks the signature of one.
#
#   tools/sign.sh EXECUTABLE PRIVATE_KEY.pem            signs the file in place
#   tools/sign.sh EXECUTABLE -                          the same, the key read from standard input
#   tools/sign.sh --verify EXECUTABLE PUBLIC_KEY.pem    exit 0: a good signature; 1: anything else
#
# The self-update installs only executables whose signature verifies with the public key built
# into the program. The signature is Ed25519 over every byte of the file before it, kept in a
# block of 100 bytes appended to the file (the loader never reads past the ELF or PE image):
#   "QUELVO-ASSINADO1" | the 64 signature bytes | 64 as 4 bytes, little-endian | "QUELVO-ASSINADO1"
# Signing a file that already ends with a block replaces that block. Sign the executable exactly
# as it is shipped: stripping or patching it afterwards breaks the signature.
#
# openssl reads the private key from its file (or from standard input): the key never appears on
# a command line, in the environment or in a temporary file; a key with a pass phrase asks for it
# on the terminal. Needs the openssl command (3.0 or later) and coreutils; no build tree.
# Exit status: 0 done / good signature, 1 failure / no good signature, 2 wrong usage.
set -euo pipefail

MARCA=QUELVO-ASSINADO1
BLOCO=100 # 16 + 64 + 4 + 16

uso() {
  echo "uso: $0 EXECUTÁVEL CHAVE_PRIVADA.pem|-" >&2
  echo "     $0 --verify EXECUTÁVEL CHAVE_PUBLICA.pem" >&2
  exit 2
}

falha() {
  echo "sign.sh: $*" >&2
  exit 1
}

# A file's bytes as one line of hexadecimal digits.
hex() {
  od -An -v -tx1 | tr -d ' \n'
}

MARCA_HEX=$(printf %s "$MARCA" | hex)

# Looks at the end of a file: ESTADO becomes "sem" (no signature block), "errado" (a closing mark
# whose block does not line up: a block of a wrong length) or "ok"; IMAGEM is the size of what
# the signature covers.
ler_bloco() {
  local n
  n=$(stat -c %s -- "$1")
  ESTADO=sem
  IMAGEM=$n
  if [ "$n" -lt 16 ] || [ "$(tail -c 16 -- "$1" | hex)" != "$MARCA_HEX" ]; then
    return 0
  fi
  ESTADO=errado
  if [ "$n" -lt "$BLOCO" ] || [ "$(tail -c 20 -- "$1" | head -c 4 | hex)" != 40000000 ] ||
    [ "$(tail -c "$BLOCO" -- "$1" | head -c 16 | hex)" != "$MARCA_HEX" ]; then
    return 0
  fi
  ESTADO=ok
  IMAGEM=$((n - BLOCO))
}

# A path that openssl cannot take for an option.
caminho() {
  case $1 in
    -*) printf './%s' "$1" ;;
    *) printf '%s' "$1" ;;
  esac
}

TEMP=$(mktemp -d)
ASSINANDO=
trap 'rm -rf -- "$TEMP"; [ -z "$ASSINANDO" ] || rm -f -- "$ASSINANDO"' EXIT

assinar() {
  local exe=$1 chave=$2 dir base
  [ -f "$exe" ] && [ -r "$exe" ] || falha "$exe não é um arquivo que se possa ler"
  case "$(head -c 4 -- "$exe" | hex)" in
    7f454c46 | 4d5a*) ;;  # ELF (Linux), MZ (Windows)
    *) falha "$exe não é um executável ELF nem do Windows (a ordem é: EXECUTÁVEL CHAVE_PRIVADA.pem)" ;;
  esac
  if [ "$chave" = - ]; then
    chave=/dev/stdin
  elif [ ! -r "$chave" ]; then
    falha "não consigo ler a chave $chave"
  fi
  ler_bloco "$exe"
  if [ "$ESTADO" = errado ]; then
    falha "$exe termina num bloco de assinatura danificado; nada foi feito"
  fi
  dir=$(dirname -- "$exe")
  base=$(basename -- "$exe")
  # The signed copy is made beside the file and renamed over it: never a half-signed executable.
  ASSINANDO=$(mktemp -- "$dir/.$base.assinando.XXXXXX")
  head -c "$IMAGEM" -- "$exe" >"$ASSINANDO"
  if ! openssl pkeyutl -sign -rawin -inkey "$(caminho "$chave")" -in "$ASSINANDO" \
    -out "$TEMP/assinatura"; then
    falha "a assinatura falhou: a chave deve ser uma chave privada Ed25519 em PEM"
  fi
  if [ "$(stat -c %s -- "$TEMP/assinatura")" != 64 ]; then
    falha "a chave não é Ed25519 (faça-a com: openssl genpkey -algorithm ed25519)"
  fi
  {
    printf %s "$MARCA"
    cat -- "$TEMP/assinatura"
    printf '\100\000\000\000'
    printf %s "$MARCA"
  } >>"$ASSINANDO"
  chmod --reference="$exe" -- "$ASSINANDO"
  mv -f -- "$ASSINANDO" "$exe"
  ASSINANDO=
  echo "Assinado: $exe"
}

verificar() {
  local exe=$1 chave=$2 tipo
  [ -f "$exe" ] && [ -r "$exe" ] || falha "$exe não é um arquivo que se possa ler"
  [ -r "$chave" ] || falha "não consigo ler a chave $chave"
  tipo=$(openssl pkey -pubin -in "$(caminho "$chave")" -noout -text 2>/dev/null | head -n 1) || true
  case $tipo in
    "ED25519 Public-Key:"*) ;;
    *) falha "$chave não é uma chave pública Ed25519 em PEM" ;;
  esac
  ler_bloco "$exe"
  case $ESTADO in
    sem) falha "$exe não tem assinatura de lançamento" ;;
    errado) falha "o bloco de assinatura de $exe tem tamanho errado" ;;
  esac
  tail -c $((BLOCO - 16)) -- "$exe" | head -c 64 >"$TEMP/assinatura"
  # openssl takes what an Ed25519 signature covers from a file, whose size it must know.
  head -c "$IMAGEM" -- "$exe" >"$TEMP/imagem"
  if openssl pkeyutl -verify -rawin -pubin -inkey "$(caminho "$chave")" -in "$TEMP/imagem" \
    -sigfile "$TEMP/assinatura" >/dev/null 2>&1; then
    echo "Assinatura válida: $exe"
  else
    falha "a assinatura de $exe não confere com a chave $chave"
  fi
}

if [ "${1:-}" = --verify ]; then
  [ $# -eq 3 ] || uso
  verificar "$2" "$3"
else
  [ $# -eq 2 ] || uso
  case $1 in -*) uso ;; esac
  assinar "$1" "$2"
fi
