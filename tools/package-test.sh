#!/usr/bin/env bash
# Tries the Debian package that tools/package.sh built as a user would, on this machine, and
# removes it again. It installs system-wide (root needed), so it is not part of ./test.sh.
#   tools/package-test.sh [OUTDIR]    (OUTDIR, default build-package/: the screenshot)
# Checks: apt-get install pulls the dependencies; quelvo-monitor --versao runs from /usr/bin; a
# first quelvo-monitor --empresas of a user with an empty HOME makes ~/.local/share/quelvo
# (0700) and writes nothing beside /usr/bin, also when root runs it; --cadeias lists the
# built-in roots; the user "quelvo" of the system unit can work in /var/lib/quelvo;
# systemd-analyze verify accepts both installed units; under systemd (booted in a container where
# this machine does not run it), an instance of the system unit sees only its own office's folder,
# an upgrade restarts the running instances and a user's running monitor on the new program, and
# removal stops them; the desktop program started from the menu entry's Exec line shows its window
# under Xvfb (screenshot), holds its folder against quelvo-monitor and hands it over to a second
# copy; an upgrade to a higher version goes through; apt-get remove leaves nothing of the package
# in /usr.
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
dpkg -L quelvo | grep -v -x "/." | sort > "$work/arquivos.txt"  # dpkg-deb -b lists "/."

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

echo "== the system unit under systemd: offices apart, upgrade and removal"
# The instances' sandbox, the restart after an upgrade and the stop on removal need systemd as the
# service manager. Where this machine does not run it (a container, a build sandbox), it boots in a
# container of its own (systemd-nspawn) on an overlay of this machine's root, where the package is
# installed: what the container does lands in the overlay, and goes with it.
systemd_here() {
  local ct=$1 saida=$1/saida
  mkdir -p "$saida" "$ct/upper" "$ct/trabalho" "$ct/raiz"
  # The upgrade: the same package with a higher version, so that dpkg replaces every file and the
  # postinst runs "configure" with the installed version.
  dpkg-deb -R "$deb" "$ct/novo"
  sed -i "s/^Version: .*/Version: ${version}+1/" "$ct/novo/DEBIAN/control"
  dpkg-deb -b "$ct/novo" "$saida/novo.deb" >/dev/null
  # The site: a login it accepts, so that quelvo-monitor --continuo runs and waits for its next
  # cycle; nothing leaves the container (--private-network).
  cat > "$saida/site.py" <<'SITE'
import http.server, sys
class Site(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", "2")
        self.end_headers()
        self.wfile.write(b"OK")
    do_POST = do_GET
    def log_message(self, *args):
        pass
http.server.HTTPServer(("127.0.0.1", 8080), Site).serve_forever()
SITE
  # What an instance of the template may see, run in its place by a drop-in that keeps every
  # setting of the unit but the command.
  cat > "$saida/sonda.sh" <<'SONDA'
cd /var/lib/quelvo/sonda
ls -A /var/lib/quelvo > vistas.txt
ls /var/lib/quelvo/a > outra.txt 2>&1 && echo LISTOU-A >> outra.txt
cat /var/lib/quelvo/a/Config.dat >> outra.txt 2>&1 && echo LEU-A >> outra.txt
: > proc.txt
for p in /proc/[0-9]*; do
  [ "$p" = /proc/$$ ] || echo "${p#/proc/}" >> proc.txt
  ls "$p/root/var/lib/quelvo/a" >/dev/null 2>&1 && echo "${p#/proc/}" >> atalho.txt
done
: >> atalho.txt
echo ok > escrito.txt
SONDA
  cat > "$saida/dentro.sh" <<'DENTRO'
#!/bin/bash
# Runs as a service of the container's systemd; results go to /saida/resultados.txt.
exec > /saida/dentro.log 2>&1
set -x
r=/saida/resultados.txt
echo "pid1=$(cat /proc/1/comm)" > $r
principal() { systemctl show -P MainPID "$@"; }
programa() { readlink "/proc/$1/exe" 2>/dev/null || echo "-"; }
systemd-run --unit=quelvo-teste-site python3 /saida/site.py
until (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null; do sleep 0.2; done
servidores='[Servidores]\r\nSite=127.0.0.1:8080\r\nSiteChaves=127.0.0.1:8080\r\nDFeProducao=127.0.0.1:9\r\nDFeHomologacao=127.0.0.1:9\r\n'
config='[Config]\r\nUsuario=ana@escritorio.com.br\r\nSenha=segredo\r\n'
pasta() {  # pasta FOLDER OWNER
  install -d -o "$2" -g "$2" -m 0700 "$1"
  printf "$config" > "$1/Config.dat"
  printf "$servidores" > "$1/Servidores.ini"
  chown "$2:" "$1/Config.dat" "$1/Servidores.ini"
}
for i in a b c; do pasta /var/lib/quelvo/$i quelvo; done
systemctl start quelvo-monitor@a quelvo-monitor@b quelvo-monitor@c
systemctl stop quelvo-monitor@c
sleep 2
for i in a b c; do echo "estado_$i=$(systemctl is-active quelvo-monitor@$i)" >> $r; done
echo "programa_a=$(programa "$(principal quelvo-monitor@a)")" >> $r
echo "seguranca=$(systemd-analyze security quelvo-monitor@a.service 2>&1 | sed -n 's/.*Overall exposure level for [^:]*: //p')" >> $r

# One instance's view, while a and b run; its folder is made by the unit (StateDirectory=).
mkdir -p /etc/systemd/system/quelvo-monitor@sonda.service.d
printf '[Service]\nType=oneshot\nRestart=no\nExecStart=\nExecStart=/bin/sh /saida/sonda.sh\n' \
  > /etc/systemd/system/quelvo-monitor@sonda.service.d/sonda.conf
systemctl daemon-reload
systemctl start quelvo-monitor@sonda
s=/var/lib/quelvo/sonda
echo "sonda_pasta=$(stat -c '%a %U' $s)" >> $r
echo "sonda_vistas=$(tr '\n' ' ' < $s/vistas.txt)" >> $r
echo "sonda_outra=$(tr '\n' ' ' < $s/outra.txt)" >> $r
echo "sonda_atalhos=$(tr '\n' ' ' < $s/atalho.txt)" >> $r
echo "sonda_proc=$(tr '\n' ' ' < $s/proc.txt)" >> $r
echo "sonda_a_b=$(principal quelvo-monitor@a) $(principal quelvo-monitor@b)" >> $r
echo "sonda_escreveu=$(cat $s/escrito.txt)" >> $r

# A user's own monitor, in the user's service manager.
useradd -m -s /bin/sh quelvo-ct
uid=$(id -u quelvo-ct)
h=/home/quelvo-ct
install -d -o quelvo-ct -g quelvo-ct $h/.local $h/.local/share $h/.config $h/.config/systemd \
  $h/.config/systemd/user $h/.config/systemd/user/default.target.wants
pasta $h/.local/share/quelvo quelvo-ct
ln -s /usr/lib/systemd/user/quelvo-monitor.service \
  $h/.config/systemd/user/default.target.wants/quelvo-monitor.service
systemctl start user@$uid.service
usuario() { systemctl --user -M "$uid@" show -P MainPID quelvo-monitor.service 2>/dev/null; }
for n in $(seq 1 50); do [ "$(usuario)" -gt 0 ] 2>/dev/null && break; sleep 0.2; done

antes_a=$(principal quelvo-monitor@a) antes_b=$(principal quelvo-monitor@b) antes_u=$(usuario)
echo "antes=$antes_a $antes_b $antes_u" >> $r
dpkg -i /saida/novo.deb > /saida/atualizacao.log 2>&1
echo "atualizacao_rc=$?" >> $r
echo "versao=$(dpkg-query -W -f='${Version}' quelvo)" >> $r
depois_a=$(principal quelvo-monitor@a) depois_b=$(principal quelvo-monitor@b) depois_u=$(usuario)
echo "depois=$depois_a $depois_b $depois_u" >> $r
echo "programa_depois=$(programa "$depois_a") $(programa "$depois_b") $(programa "$depois_u")" >> $r
echo "estado_c_depois=$(systemctl is-active quelvo-monitor@c)" >> $r

dpkg -r quelvo > /saida/remocao.log 2>&1
echo "remocao_rc=$?" >> $r
echo "removido=$(systemctl is-active quelvo-monitor@a) $(systemctl is-active quelvo-monitor@b) $(systemctl --user -M "$uid@" is-active quelvo-monitor.service)" >> $r
echo "fim=1" >> $r
systemctl --no-block poweroff
DENTRO
  cat > "$ct/raiz.sh" <<RAIZ
set -e
mount -t overlay overlay -o lowerdir=/,upperdir=$ct/upper,workdir=$ct/trabalho $ct/raiz
r=$ct/raiz
# A machine that runs its services: no policy-rc.d of an image build holds them back.
rm -f \$r/usr/sbin/policy-rc.d
cat > \$r/etc/systemd/system/quelvo-teste.service <<UNIT
[Service]
Type=oneshot
ExecStart=/bin/bash /saida/dentro.sh
UNIT
cat > \$r/etc/systemd/system/quelvo-teste.target <<UNIT
[Unit]
Requires=basic.target quelvo-teste.service
After=quelvo-teste.service
UNIT
opcoes=(--register=no --link-journal=no --private-network)
[ -d /run/systemd/system ] || opcoes+=(--keep-unit)  # no system bus to ask for a scope
timeout 600 systemd-nspawn -q -D \$r "\${opcoes[@]}" --bind=$saida:/saida -b \
  systemd.unit=quelvo-teste.target || true
umount \$r
RAIZ
  unshare -m --propagation private bash "$ct/raiz.sh" > "$ct/boot.log" 2>&1 || true
}
ct="$work/ct"
resultado() { sed -n "s/^$1=//p" "$ct/saida/resultados.txt" 2>/dev/null; }
if ! command -v systemd-nspawn >/dev/null; then
  echo "   SKIPPED: systemd is not the service manager here and systemd-nspawn is missing:" \
    "instance isolation, restart on upgrade and stop on removal not shown"
else
  systemd_here "$ct"
  if [ "$(resultado pid1)" != systemd ]; then
    echo "   SKIPPED: systemd could not boot as PID 1 in a container here, so instance" \
      "isolation, restart on upgrade and stop on removal are not shown. systemd-nspawn said:"
    tail -5 "$ct/boot.log" | sed 's/^/     /'
  else
    sed 's/^/   /' "$ct/saida/resultados.txt"
    check "instances a and b run /usr/bin/quelvo-monitor, c was stopped" \
      test "$(resultado estado_a) $(resultado estado_b) $(resultado estado_c)" = \
      "active active inactive" -a "$(resultado programa_a)" = /usr/bin/quelvo-monitor
    check "an instance sees only its own folder in /var/lib/quelvo" \
      test "$(resultado sonda_vistas)" = "sonda "
    check "an instance cannot list or read another office's folder" \
      test -z "$(resultado sonda_outra | grep -o -e LISTOU-A -e LEU-A)"
    check "no process in its /proc leads into another office's folder" \
      test -z "$(resultado sonda_atalhos)"
    read -r pid_a pid_b <<< "$(resultado sonda_a_b)"
    check "the other instances' processes are not in its /proc" \
      test "${pid_a:-0}" -gt 0 -a "${pid_b:-0}" -gt 0 \
      -a -z "$(echo " $(resultado sonda_proc) " | grep -e " $pid_a " -e " $pid_b ")"
    check "an instance writes its own folder, at /var/lib/quelvo/INSTANCE, made 0700 for quelvo" \
      test "$(resultado sonda_escreveu)/$(resultado sonda_pasta)" = "ok/700 quelvo"
    check "the upgrade to ${version}+1 went through" \
      test "$(resultado atualizacao_rc)/$(resultado versao)" = "0/${version}+1"
    read -r a0 b0 u0 <<< "$(resultado antes)"
    read -r a1 b1 u1 <<< "$(resultado depois)"
    check "after the upgrade, the running instances are new processes of the new program" \
      test "${a1:-0}" -gt 0 -a "${b1:-0}" -gt 0 -a "$a1" != "$a0" -a "$b1" != "$b0" \
      -a "$(resultado programa_depois | cut -d' ' -f1-2)" = \
      "/usr/bin/quelvo-monitor /usr/bin/quelvo-monitor"
    check "a stopped instance stays stopped" test "$(resultado estado_c_depois)" = inactive
    if [ -z "$u0" ]; then
      echo "   SKIPPED: no user's service manager with a session bus came up in the container" \
        "(dbus-user-session): the user unit's restart and stop are not shown"
      check "the removal stopped the instances" \
        test "$(resultado remocao_rc)/$(resultado removido | cut -d' ' -f1-2)" = "0/inactive inactive"
    else
      check "after the upgrade, a user's quelvo-monitor.service is a new process of the new program" \
        test "${u1:-0}" -gt 0 -a "$u1" != "$u0" \
        -a "$(resultado programa_depois | cut -d' ' -f3)" = /usr/bin/quelvo-monitor
      check "the removal stopped the instances and the user's monitor" \
        test "$(resultado remocao_rc)/$(resultado removido)" = "0/inactive inactive inactive"
    fi
    echo "   systemd-analyze security quelvo-monitor@a.service in the container: $(resultado seguranca)"
  fi
fi

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

echo "== an upgrade: the same package with version ${version}+1"
# Here systemd does not run (or does, and no instance was started on this machine): the maintainer
# scripts only have to go through; what they do under systemd is shown in the container above.
if [ ! -f "$ct/saida/novo.deb" ]; then
  dpkg-deb -R "$deb" "$work/novo"
  sed -i "s/^Version: .*/Version: ${version}+1/" "$work/novo/DEBIAN/control"
  mkdir -p "$ct/saida"
  dpkg-deb -b "$work/novo" "$ct/saida/novo.deb" >/dev/null
fi
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$ct/saida/novo.deb" > "$work/upgrade.txt" 2>&1 &&
  upgrade_rc=0 || upgrade_rc=$?
grep -E '^(Setting up|Unpacking|Preparing)' "$work/upgrade.txt" | sed 's/^/   /'
check "apt-get upgraded it to ${version}+1" \
  test "$upgrade_rc/$(dpkg-query -W -f='${Version}' quelvo)" = "0/${version}+1"

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
