#!/usr/bin/env bash
# Installs the build into a temporary prefix, makes the installed tree
# read-only and runs the installed romsmith-cli from bin/ as a user without
# write access to it (nobody, when the test runs as root): the commands work
# from the user's own program directory and the installed tree stays as it
# was installed.
#   check_install.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d /tmp/romsmith-install.XXXXXX)
chmod 755 "$work"
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$work/usr
cmake --install "$build" --prefix "$prefix" > "$work/install.log" || { cat "$work/install.log"; fail "install"; }
installed=$prefix/lib/romsmith
for path in bin/romsmith-cli bin/romsmith-simboard share/man/man1/romsmith-cli.1.gz \
            share/man/man1/romsmith-simboard.1.gz lib/romsmith/.installed lib/romsmith/romsmith.ini \
            lib/romsmith/proc.xdl lib/romsmith/rom.xdl lib/romsmith/drivers/osprey7.so \
            lib/romsmith/ports/simboard/portcall.so lib/romsmith/ports/simboard/board.ini \
            lib/romsmith/ports/parport/portcall.so lib/romsmith/examples/s3c44b0x-am29lv160db.cfg; do
  [[ -e $prefix/$path ]] || fail "$path is not installed"
done
[[ $(readlink "$prefix/bin/romsmith-cli") == ../lib/romsmith/romsmith-cli ]] || fail "bin/romsmith-cli is no link"
# With the desktop program: its entry starts bin/romsmith from the PATH.
if [[ -e $build/romsmith/romsmith ]]; then
  entry=$prefix/share/applications/romsmith.desktop
  [[ -f $entry && -e $prefix/share/man/man1/romsmith.1.gz ]] || fail "no desktop entry or manual page"
  program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
  [[ -x $prefix/bin/$program ]] || fail "the desktop entry starts '$program', which is not in bin/"
fi
cmp -s "$installed/romsmith.ini" "$(dirname "$0")/../../data/romsmith.ini" || fail "romsmith.ini is not the shipped one"
[[ -z $(find "$installed" -name Info.log -o -name '.romsmith.lock' -o -path '*/ports/*.bin') ]] ||
  fail "files of earlier runs were installed"

chmod -R a-w "$prefix"
listing() { (cd "$prefix" && find . -printf '%p %y %s %m\n' | sort && find . -type f -exec md5sum {} + | sort); }
before=$(listing)

home=$work/home
mkdir -p "$home"
as_user=()
if [[ $(id -u) -eq 0 ]] && command -v setpriv > /dev/null; then
  chown -R 65534:65534 "$home"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
run() { env -i PATH=/usr/bin:/bin HOME="$home" "${as_user[@]}" "$prefix/bin/romsmith-cli" "$@" 2>&1; }

out=$(run -y -c "$installed/examples/s3c44b0x-am29lv160db.cfg" -s 1-1 checksum) || fail "checksum: $out"
grep -qx 'Info: checksum completed, it is 0xC000.' <<< "$out" || fail "checksum of an erased sector: $out"
out=$(run drivers) || fail "drivers: $out"
grep -q '^  description: ' <<< "$out" || fail "drivers: $out"

user=$home/.local/share/romsmith
[[ -f $user/romsmith.ini && ! -L $user/romsmith.ini ]] || fail "no settings of the user's own"
[[ -f $user/ports/simboard/board.ini && ! -L $user/ports/simboard/board.ini ]] || fail "no board file of the user's own"
[[ -f $user/ports/simboard/flash0.bin ]] || fail "the virtual board's flash image is not in the user's directory"
[[ -L $user/drivers/osprey7.so && -L $user/romsmith-cli ]] || fail "programs and modules are not linked"
[[ $before == "$(listing)" ]] || fail "the installed tree changed"
echo "installed tree ran for a user without write access; per-user directory $user"
