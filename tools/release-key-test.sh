#!/usr/bin/env bash
# Checks that a release built by tools/package.sh with a release key trusts that key, and only it:
# the portable desktop program of the tarball, asked as the installing script asks
# (--verificar-atualizacao), accepts a later version of itself signed with the key and refuses the
# same file signed with another key. Runs tools/package.sh (a Release build: minutes), so it is
# not part of ./test.sh.
#   tools/release-key-test.sh
# Two Ed25519 keys are made on the spot in a temporary folder and removed at the end.
# Exit status: 0 both answers right; 1 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT
openssl genpkey -algorithm ed25519 -out "$work/chave.pem" 2>/dev/null
openssl genpkey -algorithm ed25519 -out "$work/outra.pem" 2>/dev/null

tools/package.sh "$work/chave.pem"

version=$(sed -n 's/^set(QUELVO_VERSION \([0-9.]*\))$/\1/p' CMakeLists.txt)
tar -C "$work" -xzf "build-package/quelvo-${version}-linux-x86_64.tar.gz"
quelvo="$work/Quelvo/quelvo"

# The same program with a later version in its version marker, the length kept: one higher the
# last digit that is not a 9.
later=$(printf %s "$version" | perl -pe 's/([0-8])([9.]*)$/($1 + 1) . $2/e')
perl -0777 -pe "s/QUELVO-FILEVERSION=\Q$version\E\0/QUELVO-FILEVERSION=$later\0/g" "$quelvo" \
  > "$work/com-a-chave"
cp "$work/com-a-chave" "$work/com-outra"
tools/sign.sh "$work/com-a-chave" "$work/chave.pem" >/dev/null
tools/sign.sh "$work/com-outra" "$work/outra.pem" >/dev/null

failures=0
check() {  # check DESCRIPTION EXPECTED_STATUS FILE
  local rc=0
  "$quelvo" --verificar-atualizacao "$3" 2>"$work/erro" || rc=$?
  if [ "$rc" -eq "$2" ]; then
    echo "ok   $1 (saída $rc)"
  else
    echo "FAIL $1: saída $rc, esperada $2: $(cat "$work/erro")"
    failures=$((failures + 1))
  fi
}
echo "== quelvo $version, versão seguinte $later"
check "aceita a versão seguinte assinada com a chave do pacote" 0 "$work/com-a-chave"
check "recusa a versão seguinte assinada com outra chave" 1 "$work/com-outra"
[ "$failures" -eq 0 ]
