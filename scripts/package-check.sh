#!/usr/bin/env bash
# Checks the Debian package as an administrator meets it, on this machine, and removes it
# again: lintian; apt install; the installed programs through their installed paths (as root
# and as an unprivileged user); the manual pages, the desktop entry, the polkit action and the
# boot unit; a reinstallation keeping the settings; apt remove (settings, log and state stay)
# and apt purge (nothing of the package stays).
#   scripts/package-check.sh [corvane_<version>_<arch>.deb]   (default: build it into build/)
# Needs root. Refuses to run where corvane is installed already, so it never touches a real
# installation; the package is purged however the check ends.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "package-check: needs root (it installs the package)" >&2; exit 1; }
if dpkg-query -W -f='${Status}' corvane 2>/dev/null | grep -qv "not-installed"; then
  echo "package-check: corvane is installed on this machine; not touching it" >&2
  exit 1
fi
deb="${1:-}"
if [ -z "$deb" ]; then
  start=$(date +%s)
  mkdir -p build
  deb=$(./scripts/package.sh build | tail -n1)
  echo "package-check: built $(basename "$deb") in $(($(date +%s) - start)) s"
fi
deb="$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")"

step() { echo "package-check: $*"; }
fail() { echo "package-check: FAILED: $*" >&2; exit 1; }
export DEBIAN_FRONTEND=noninteractive
# The programs' single-instance guard in a folder of this check's own, so that a program or
# test running elsewhere on the machine cannot stop them.
XDG_RUNTIME_DIR=$(mktemp -d)
export XDG_RUNTIME_DIR
purge() { apt-get purge -y -qq corvane >/dev/null 2>&1 || true; }
trap 'rm -rf "$XDG_RUNTIME_DIR"; purge' EXIT

step "lintian"
report=$(lintian --fail-on error --tag-display-limit 0 "$deb" 2>&1) || { echo "$report"; fail "lintian reports errors"; }
grep -v "root privileges is not recommended" <<<"$report" || true

step "apt install $(basename "$deb")"
gai_before=$(md5sum /etc/gai.conf 2>/dev/null || echo none)
apt-get install -y -qq "$deb" >/dev/null
stamp=$(mktemp)
trap 'rm -rf "$stamp" "$XDG_RUNTIME_DIR"; purge' EXIT

step "corvane --version, corvane show (installed paths)"
version=$(/usr/bin/corvane --version)
[ -n "$version" ] || fail "corvane --version printed nothing"
echo "  $version"
/usr/bin/corvane show >/dev/null || fail "corvane show"
[ "$(readlink -f /usr/bin/corvane-gui)" = /usr/lib/corvane/zarntool ] || fail "corvane-gui link"
grep -q "^LANG=\(Japanese\|English\)" /etc/corvane/zarntool.ini || fail "no language chosen"
[ -s /var/log/corvane/zarntool.log ] || fail "nothing logged in /var/log/corvane"

step "as an unprivileged user: show works, apply is refused, the log notice comes once"
err=$(runuser -u nobody -- /usr/bin/corvane show 2>&1 >/dev/null) || fail "show as nobody"
[ "$(grep -c . <<<"$err")" -le 1 ] || fail "show as nobody wrote more than one line: $err"
echo "  show: $err"
status=0
err=$(runuser -u nobody -- /usr/bin/corvane apply --accept-terms 2>&1 >/dev/null) || status=$?
[ "$status" -eq 1 ] || fail "apply as nobody exited $status, not 1"
echo "  apply: $err"
[ "$(md5sum /etc/gai.conf 2>/dev/null || echo none)" = "$gai_before" ] || fail "/etc/gai.conf changed"

step "nothing written under /usr at run time"
changed=$(find /usr/lib/corvane /usr/share/corvane -newer "$stamp" 2>/dev/null)
[ -z "$changed" ] || fail "written under /usr: $changed"

step "man -l on the installed pages"
for page in /usr/share/man/man8/corvane.8.gz /usr/share/man/man8/corvane-gui.8.gz; do
  warnings=$(MANROFFSEQ='' MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
done

step "desktop-file-validate"
desktop-file-validate /usr/share/applications/corvane.desktop

step "polkit action (XML against polkit's DTD)"
xmllint --noout --dtdvalid /usr/share/polkit-1/policyconfig-1.dtd \
  /usr/share/polkit-1/actions/org.corvane.pkexec.gui.policy

step "systemd-analyze verify on the unit; enabled"
systemd-analyze verify /lib/systemd/system/corvane-labels.service /lib/systemd/system/corvane-watch.service
[ ! -e /etc/systemd/system/multi-user.target.wants/corvane-watch.service ] || fail "the watcher was enabled"
[ -L /etc/systemd/system/sysinit.target.wants/corvane-labels.service ] || fail "unit not enabled"

step "reinstallation keeps the administrator's settings"
sed -i 's/^LANG=[^\r]*/LANG=English/' /etc/corvane/zarntool.ini
apt-get install -y -qq --reinstall "$deb" >/dev/null
grep -q "^LANG=English" /etc/corvane/zarntool.ini || fail "reinstallation changed the language"

files=$(dpkg-query -L corvane | grep -v '^/\.$')
step "apt remove: settings, log and state stay"
apt-get remove -y -qq corvane >/dev/null
for kept in /etc/corvane/zarntool.ini /etc/corvane/policytable.conf /var/log/corvane; do
  [ -e "$kept" ] || fail "$kept removed by apt remove"
done
[ ! -e /usr/lib/corvane ] || fail "/usr/lib/corvane stays after apt remove"

step "apt purge: nothing stays"
apt-get purge -y -qq corvane >/dev/null
left=()
while IFS= read -r f; do
  { [ -e "$f" ] || [ -L "$f" ]; } || continue
  # Shared folders (/usr/bin, /usr/share/man/man8, ...) stay; the package's own do not.
  [ -d "$f" ] && [[ "$f" != *corvane* ]] && continue
  left+=("$f")
done <<<"$files"
for f in /etc/corvane /var/lib/corvane /var/log/corvane $(find /etc/systemd -name '*corvane*'); do
  if [ -e "$f" ] || [ -L "$f" ]; then left+=("$f"); fi
done
if [ -n "$(find /var/lib/systemd/deb-systemd-helper-enabled /var/lib/systemd/deb-systemd-helper-masked \
  -name '*corvane*' 2>/dev/null)" ]; then left+=("deb-systemd-helper's state"); fi
if dpkg-query -W corvane >/dev/null 2>&1; then left+=("dpkg's record"); fi
[ ${#left[@]} -eq 0 ] || fail "left after purge: ${left[*]}"
step "all checks passed"
