#!/usr/bin/env bash
# Tries the Debian package that tools/package.sh built as a user would, on this machine, and
# removes it again. It installs system-wide (root needed), so it is not part of ./test.sh.
#   tools/package-test.sh [OUTDIR]    (OUTDIR, default build-package/: the screenshot)
# Checks: apt-get install pulls the dependencies; quelvo-monitor --versao runs from /usr/bin; a
# first quelvo-monitor --empresas of a user with an empty HOME makes ~/.local/share/quelvo
# (0700) and writes nothing beside /usr/bin, also when root runs it; --cadeias lists the
# built-in roots; the user "quelvo" of the system unit can work in /var/lib/quelvo;
# systemd-analyze verify accepts both installed units; the desktop program started from the
# menu entry's Exec line shows its window under Xvfb (screenshot), holds its folder against
# quelvo-monitor and hands it over to a second copy; apt-get remove leaves
# nothing of the package in /usr.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
[ "$(id -u)" -eq 0 ] || { echo "tools/package-test.sh instala o pacote: rode como root." >&2; exit 1; }
out=$(realpath -m "${1:-build-package}")
mkdir -p "$out"
version=$(sed -n 's/^set(QUELVO_VERSION \([0-9.]*\))$/\1/p' CMakeLists.txt)
deb="$root/build-package/quelvo_${version}_amd64.deb"
[ -f "$deb" ] || { echo "Falta $deb: rode tools/package.sh antes." >&2; exit 1; }
if dpkg-query -W -f='${Status}' quelvo 2>/dev/null | grep -q 'ok installed'; then
  echo "O pacote quelvo já está instalado nesta máquina: nada foi feito." >&2
  exit 1
fi
bash tools/install-deps.sh --pacote

failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}

work=$(mktemp -d)
chmod 755 "$work"
user=quelvo-teste-$$
had_quelvo_user=0
getent passwd quelvo >/dev/null && had_quelvo_user=1
cleanup() {
  set +e
  # Removed and purged: the machine as it was (the purge only drops dpkg's record).
  dpkg-query -W quelvo >/dev/null 2>&1 && dpkg --purge quelvo >/dev/null 2>&1
  if [ "$had_quelvo_user" -eq 0 ] && getent passwd quelvo >/dev/null; then
    userdel quelvo 2>/dev/null
    getent group quelvo >/dev/null && groupdel quelvo 2>/dev/null
    rm -rf /var/lib/quelvo
  fi
  getent passwd "$user" >/dev/null && userdel "$user" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

usr_before="$work/usr-antes.txt"
find /usr -xdev | sort > "$usr_before"

echo "== apt-get install $(basename "$deb")"
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" 2>&1 | grep -E '^(Setting up|Unpacking|NEW|The following|  )' || true
check "package installed" dpkg-query -W quelvo
dpkg-query -W -f='   Depends: ${Depends}\n   Recommends: ${Recommends}\n' quelvo
find /usr -xdev | sort > "$work/usr-instalado.txt"
dpkg -L quelvo | sort > "$work/arquivos.txt"

echo "== from /usr/bin"
check "quelvo-monitor --versao prints $version" \
  test "$(cd / && quelvo-monitor --versao)" = "$version"
check "quelvo-monitor is /usr/bin/quelvo-monitor" test "$(command -v quelvo-monitor)" = /usr/bin/quelvo-monitor

echo "== a user with an empty HOME"
home="$work/casa"
mkdir "$home"
useradd --no-create-home --home-dir "$home" --shell /bin/sh "$user"
chown "$user:" "$home"
as_user() { runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"; }
as_user quelvo-monitor --empresas > "$work/empresas.txt" 2>&1 && empresas_rc=0 || empresas_rc=$?
sed 's/^/   /' "$work/empresas.txt"
check "quelvo-monitor --empresas exits 0" test "$empresas_rc" -eq 0
check "~/.local/share/quelvo made" test -d "$home/.local/share/quelvo"
check "~/.local/share/quelvo is 0700 and the user's" \
  test "$(stat -c '%a %U' "$home/.local/share/quelvo")" = "700 $user"
echo "   $(cd "$home" && find . | sort | tr '\n' ' ')"
check "nothing new in /usr" cmp -s <(find /usr -xdev | sort) "$work/usr-instalado.txt"
as_user quelvo-monitor --cadeias > "$work/cadeias.txt" 2>&1 || true
sed 's/^/   /' "$work/cadeias.txt"
check "--cadeias lists the three built-in roots" \
  test "$(grep -c 'embutida no aplicativo (ac-raiz-icp-brasil-v' "$work/cadeias.txt")" -eq 3

echo "== root, whose HOME is empty too (root can write /usr/bin: its files still go to HOME)"
roothome="$work/root"
mkdir "$roothome"
(cd / && env -i HOME="$roothome" PATH=/usr/bin:/bin quelvo-monitor --empresas >/dev/null 2>&1) &&
  root_rc=0 || root_rc=$?
check "root's quelvo-monitor --empresas exits 0" test "$root_rc" -eq 0
check "root's folder is $roothome/.local/share/quelvo" test -d "$roothome/.local/share/quelvo"
check "nothing new in /usr" cmp -s <(find /usr -xdev | sort) "$work/usr-instalado.txt"

echo "== the system unit's user"
check "user quelvo exists" getent passwd quelvo
runuser -u quelvo -- quelvo-monitor --pasta /var/lib/quelvo/escritorio --modo sequencial \
  > "$work/quelvo.txt" 2>&1 && q_rc=0 || q_rc=$?
sed 's/^/   /' "$work/quelvo.txt"
check "quelvo-monitor as quelvo in /var/lib/quelvo/escritorio" test "$q_rc" -eq 0
rm -rf /var/lib/quelvo/escritorio

echo "== systemd-analyze verify"
cp /usr/lib/systemd/system/quelvo-monitor@.service "$work/quelvo-monitor@escritorio.service"
verify=$( (systemd-analyze verify "$work/quelvo-monitor@escritorio.service" &&
  XDG_RUNTIME_DIR=$(mktemp -d -p "$work") systemd-analyze --user verify \
    /usr/lib/systemd/user/quelvo-monitor.service) 2>&1) && verify_rc=0 || verify_rc=$?
[ -z "$verify" ] || echo "$verify" | sed 's/^/   /'
check "both units accepted, without a word" test "$verify_rc" -eq 0 -a -z "$verify"

echo "== the desktop program from the menu entry, under Xvfb"
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/quelvo.desktop | sed 's/ *%[fFuUik]//g')
echo "   Exec=$exec_line"
# Nothing leaves the machine: the site and the national service are a closed port here.
printf '[Servidores]\r\nSite=127.0.0.1:9\r\nSiteChaves=127.0.0.1:9\r\nDFeProducao=127.0.0.1:9\r\nDFeHomologacao=127.0.0.1:9\r\n' \
  > "$home/.local/share/quelvo/Servidores.ini"
chown "$user:" "$home/.local/share/quelvo/Servidores.ini"
shot="$out/quelvo-menu.png"
gui="$work/gui"
mkdir "$gui"
chown "$user:" "$gui"
cat > "$gui/gui.sh" <<GUI
sh -c 'exec $exec_line' &
pid=\$!
for i in \$(seq 1 100); do
  xwininfo -root -tree | grep -q 'Quelvo do Site Travon' && break
  sleep 0.2
done
xwininfo -root -tree | grep 'Quelvo do Site Travon' > "$gui/janelas.txt" || true
sleep 1  # the first paint
import -window root "$gui/tela.png"
# The per-user folder keeps the rules of every folder: quelvo-monitor finds it in use, and a
# second quelvo asks the first to save and quit, then opens its own window.
quelvo-monitor --empresas > "$gui/em-uso.txt" 2>&1
echo \$? >> "$gui/em-uso.txt"
sh -c 'exec $exec_line' &
pid2=\$!
for i in \$(seq 1 100); do kill -0 \$pid 2>/dev/null || break; sleep 0.2; done
if kill -0 \$pid 2>/dev/null; then kill -9 \$pid; echo vivo > "$gui/primeiro-rc"; else wait \$pid; echo \$? > "$gui/primeiro-rc"; fi
for i in \$(seq 1 100); do
  xwininfo -root -tree | grep -q 'Login do Usuário' && break
  sleep 0.2
done
xwininfo -root -tree | grep 'Login do Usuário' > "$gui/segundo.txt" || true
kill -TERM \$pid2
for i in \$(seq 1 50); do kill -0 \$pid2 2>/dev/null || break; sleep 0.2; done
if kill -0 \$pid2 2>/dev/null; then kill -9 \$pid2; echo morto > "$gui/gui-rc"; else wait \$pid2; echo \$? > "$gui/gui-rc"; fi
GUI
chmod 755 "$gui/gui.sh"
as_user xvfb-run -a -s "-screen 0 1024x768x24" sh "$gui/gui.sh" > "$gui/gui.txt" 2>&1 || true
sed 's/^/   /' "$gui/janelas.txt" "$gui/gui.txt" 2>/dev/null || true
check "a window titled 'Quelvo do Site Travon' was shown" test -s "$gui/janelas.txt"
sed 's/^/   quelvo-monitor beside it: /' "$gui/em-uso.txt"
check "quelvo-monitor refuses the folder the desktop program holds" \
  test "$(tail -1 "$gui/em-uso.txt")" = 1
echo "   first quelvo after a second one started: $(cat "$gui/primeiro-rc" 2>/dev/null)"
check "a second quelvo on the folder ended the first (exit 0)" \
  test "$(cat "$gui/primeiro-rc" 2>/dev/null)" = 0
check "the second one shows its window" test -s "$gui/segundo.txt"
echo "   exit after SIGTERM: $(cat "$gui/gui-rc" 2>/dev/null)"
check "SIGTERM ended it (exit 0)" test "$(cat "$gui/gui-rc" 2>/dev/null)" = 0
[ -f "$gui/tela.png" ] && cp "$gui/tela.png" "$shot" && echo "   screenshot: $shot"

echo "== apt-get remove quelvo"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -q quelvo >/dev/null 2>&1
check "package removed" test -z "$(dpkg-query -W -f='${Status}' quelvo 2>/dev/null | grep 'ok installed')"
left=""
while read -r f; do
  if [ -e "$f" ] && ! grep -qx "$f" "$usr_before"; then left+=" $f"; fi
done < "$work/arquivos.txt"
[ -z "$left" ] || echo "   left:$left"
check "nothing of the package left in /usr" test -z "$left"

echo "== $failures failure(s)"
[ "$failures" -eq 0 ]
