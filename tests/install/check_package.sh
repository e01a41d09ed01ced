#!/usr/bin/env bash
# Builds the Debian package from the built tree and checks it as a user of
# the package would meet it: lintian finds no error and no warning, the
# desktop entry is valid, every ELF file is stripped, ppdev is loaded at boot
# and the lp group gets the parallel ports, and the program starts through
# the desktop entry's Exec line from a scratch root the package is unpacked
# into (romsmith --version, which needs no display).
#   check_package.sh BUILD_DIR CPACK
set -euo pipefail
build=$1
cpack=$2
work=$(mktemp -d /tmp/romsmith-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in lintian desktop-file-validate dpkg-deb readelf; do
  command -v "$tool" > /dev/null || fail "$tool is missing (tools/install-deps.sh installs it)"
done

"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" > "$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/out/romsmith_*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "cpack made no single romsmith package: ${debs[*]}"
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
echo "package $(basename "$deb"): $(stat -c %s "$deb") bytes, installed size $(dpkg-deb -f "$deb" Installed-Size) KiB"

# Errors and warnings fail; what lintian only mentions is shown.
lintian --fail-on error,warning --display-info "$deb" > "$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log"; fail "lintian"; }
grep -v '^running with root privileges' "$work/lintian.log" || true

root=$work/root
dpkg-deb -x "$deb" "$root"
entry=$root/usr/share/applications/romsmith.desktop
[[ -f $entry ]] || fail "no desktop entry"
desktop-file-validate "$entry" || fail "desktop-file-validate"

# Every ELF file of the package carries no symbols and no debug sections.
while IFS= read -r -d '' file; do
  [[ $(head -c 4 "$file" | od -An -c | tr -d ' ') == '177ELF' ]] || continue
  sections=$(readelf -S --wide "$file")
  if grep -qE '\.(symtab|debug_[a-z]+) ' <<< "$sections"; then fail "${file#"$root"} is not stripped"; fi
done < <(find "$root" -type f -print0)

grep -qx ppdev "$root/usr/lib/modules-load.d/romsmith.conf" || fail "ppdev is not loaded at boot"
grep -q 'GROUP="lp"' "$root"/usr/lib/udev/rules.d/*romsmith*.rules || fail "no udev rule for the lp group"
for page in romsmith romsmith-cli romsmith-simboard; do
  [[ -f $root/usr/share/man/man1/$page.1.gz ]] || fail "no manual page $page.1.gz"
done

# The Exec line as a desktop starts it: the field codes dropped (no file
# given), the program looked up in the PATH, which here is the scratch
# root's bin/ in front of the system's.
exec_line=$(sed -n 's/^Exec=//p' "$entry" | head -n 1)
read -r -a words <<< "$(sed -E 's/%[fFuUdDnNickvm]//g' <<< "$exec_line")"
[[ ${#words[@]} -ge 1 ]] || fail "empty Exec line"
path="$root/usr/bin:/usr/bin:/bin"
found=$(PATH=$path command -v "${words[0]}") || fail "Exec program '${words[0]}' is not in the PATH"
[[ $found == "$root/usr/bin/"* ]] || fail "Exec starts $found, not the packaged program"
try_exec=$(sed -n 's/^TryExec=//p' "$entry" | head -n 1)
[[ -z $try_exec ]] || PATH=$path command -v "$try_exec" > /dev/null || fail "TryExec $try_exec not found"
mkdir -p "$work/home"
started=$(env -i HOME="$work/home" PATH="$path" "${words[@]}" --version 2>&1) ||
  fail "'$exec_line' --version: $started"
[[ $started == "romsmith $version" ]] || fail "'$exec_line' --version printed: $started"
out=$(env -i HOME="$work/home" PATH="$path" "${words[@]}" --help 2>&1) || fail "--help: $out"
grep -q '^Usage: romsmith' <<< "$out" || fail "--help printed: $out"
echo "package is lintian clean; its desktop entry started: $started"
