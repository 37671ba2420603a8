#!/usr/bin/env bash
# Builds the Debian package corvane_<version>_<arch>.deb from a release build (the `package`
# preset, with Debian's hardening flags) and writes it into the folder given (default: the
# project folder). Prints the package's path last.
#
# Layout: the programs in /usr/lib/corvane/, where the program still finds everything beside
# itself through links: conf -> /etc/corvane (settings and saved table, conffiles), the log
# zarntool.log -> /var/log/corvane/zarntool.log, state -> /var/lib/corvane, export ->
# /var/lib/corvane/export. The language libraries and the factory table are read-only data in
# /usr/share/corvane/, linked from /etc/corvane/. Nothing under /usr is written at run time.
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
out="$(cd "${1:-$src}" && pwd)"
cd "$src"
./scripts/install-deps.sh

version=$(sed -n 's/^project(Corvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
changelog_version=$(sed -n '1s/^corvane (\([^)]*\)).*/\1/p' packaging/debian/changelog)
if [ "$version" != "$changelog_version" ]; then
  echo "package: CMakeLists.txt says $version, packaging/debian/changelog says $changelog_version" >&2
  exit 1
fi

# The release build, with the flags Debian builds its packages with.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake --preset package "${launcher[@]}" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build --preset package -j2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root="$work/root"
DESTDIR="$root" cmake --install build/package --prefix /usr --strip >/dev/null
for program in "$root"/usr/lib/corvane/*; do
  if [ -f "$program" ] && [ -x "$program" ]; then
    strip --remove-section=.comment --remove-section=.note --strip-unneeded "$program"
  fi
done

lib="$root/usr/lib/corvane"
share="$root/usr/share/corvane"
etc="$root/etc/corvane"
install -d "$etc" "$share" "$root/usr/bin" "$root/usr/share/doc/corvane"
# The user's files go to /etc, the read-only data to /usr/share; links keep conf/ whole.
mv "$lib/conf/zarntool.ini" "$lib/conf/policytable.conf" "$etc/"
mv "$lib/conf/langs" "$share/langs"
mv "$lib/conf/policytable.conf.default" "$share/"
rmdir "$lib/conf"
ln -s /etc/corvane "$lib/conf"
ln -s /usr/share/corvane/langs "$etc/langs"
ln -s /usr/share/corvane/policytable.conf.default "$etc/policytable.conf.default"
ln -s /var/log/corvane/zarntool.log "$lib/zarntool.log"
ln -s /var/lib/corvane "$lib/state"
ln -s /var/lib/corvane/export "$lib/export"
# On the PATH: `corvane` (the command line) and `corvane-gui` (the window program, both modes).
ln -s ../lib/corvane/corvane "$root/usr/bin/corvane"
ln -s ../lib/corvane/zarntool "$root/usr/bin/corvane-gui"

# The desktop entry goes through pkexec and the polkit action; the boot service; the log's
# rotation; manual pages; the icon.
install -m 0644 packaging/corvane.desktop "$root/usr/share/applications/corvane.desktop"
install -D -m 0644 packaging/org.corvane.pkexec.gui.policy \
  "$root/usr/share/polkit-1/actions/org.corvane.pkexec.gui.policy"
install -D -m 0644 packaging/corvane-labels.service "$root/lib/systemd/system/corvane-labels.service"
install -D -m 0644 packaging/corvane-watch.service "$root/lib/systemd/system/corvane-watch.service"
install -D -m 0644 packaging/corvane.logrotate "$root/etc/logrotate.d/corvane"
install -D -m 0644 res/icons/app.xpm "$root/usr/share/pixmaps/corvane.xpm"
gzip -9n "$root"/usr/share/man/man8/*.8
install -m 0644 packaging/debian/copyright "$root/usr/share/doc/corvane/copyright"
gzip -9n <packaging/debian/changelog >"$root/usr/share/doc/corvane/changelog.gz"
chmod -R u=rwX,go=rX "$root"

# Control files. Depends: the libraries the programs link, as dpkg-shlibdeps finds them.
install -d "$root/DEBIAN" "$work/shlibs/debian"
printf 'Source: corvane\n\nPackage: corvane\nArchitecture: any\n' >"$work/shlibs/debian/control"
programs=()
for f in "$lib"/*; do
  [ -f "$f" ] && [ ! -L "$f" ] && [ -x "$f" ] && programs+=("$f")
done
shlibs=$(cd "$work/shlibs" && dpkg-shlibdeps -O "${programs[@]}" | sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || { echo "package: dpkg-shlibdeps found no libraries" >&2; exit 1; }
size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@SIZE@/$size/" -e "s/@SHLIBS@/$shlibs/" \
  packaging/debian/control.in >"$root/DEBIAN/control"
install -m 0644 packaging/debian/conffiles "$root/DEBIAN/conffiles"
install -m 0755 packaging/debian/postinst packaging/debian/prerm packaging/debian/postrm "$root/DEBIAN/"
(cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z |
  xargs -0 md5sum) >"$root/DEBIAN/md5sums"
chmod 0644 "$root/DEBIAN/md5sums"

deb="$out/corvane_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
