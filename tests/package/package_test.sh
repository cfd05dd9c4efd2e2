#!/usr/bin/env bash
# Builds the Debian package of a build tree, unpacks it into a scratch root
# and runs the installed programs from there: tests/package/package_test.sh BUILD_DIR
set -euo pipefail
build="$1"
scratch="$(mktemp -d)"
trap 'kill "${sim_pid:-}" 2>/dev/null || true; rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack failed"; }
deb="$(ls "$scratch"/out/bmsmon_*.deb)"
[ -f "$deb" ] || fail "no package written"
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

# The control file: name, section, the libraries the programs link and the
# platform plugin the window needs.
control="$(dpkg-deb -f "$deb")"
grep -qx "Package: bmsmon" <<<"$control" || fail "package name"
grep -qx "Section: electronics" <<<"$control" || fail "section"
depends="$(dpkg-deb -f "$deb" Depends)"
for lib in libqt6widgets6 libqt6charts6 libqt6printsupport6 libnettle8 libc6 libstdc++6 qt6-qpa-plugins; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done

# The file list: every program, a link per edition, a menu entry per
# edition, the icon, the man pages, the copyright; and nothing outside /usr.
dpkg-deb -c "$deb" | awk '{print $6 ($7 == "->" ? " -> " $8 : "")}' | sed 's|^\./|/|' | sort >"$scratch/files"
editions="TQ58_LIT TQ58_ENG TQ58_EVT TQ58_CPL TQ58_FPL PQTQ58_LIT PQTQ58_ENG PQTQ58_EVT PQTQ58_CPL PQTQ58_FPL"
expect=(/usr/bin/bmsmon /usr/bin/bmsmon-cli /usr/bin/bmssim
        /usr/share/icons/hicolor/scalable/apps/bmsmon.svg
        /usr/share/man/man1/bmsmon.1.gz /usr/share/man/man1/bmsmon-cli.1.gz /usr/share/man/man1/bmssim.1.gz
        /usr/share/doc/bmsmon/copyright /usr/share/doc/bmsmon/changelog.gz)
for e in $editions; do
  lower="$(tr '[:upper:]' '[:lower:]' <<<"$e")"
  expect+=("/usr/bin/${e}_bmsmon -> bmsmon" "/usr/share/man/man1/${e}_bmsmon.1.gz -> bmsmon.1.gz"
           "/usr/share/applications/bmsmon-${lower}.desktop")
done
for f in "${expect[@]}"; do grep -qxF "$f" "$scratch/files" || fail "missing from the package: $f"; done
if grep -v '^/usr/' "$scratch/files" | grep -vx '/'; then fail "files outside /usr"; fi
files=$(grep -vc '/$' "$scratch/files")
[ "$files" -eq "${#expect[@]}" ] || { cat "$scratch/files"; fail "expected ${#expect[@]} files, found $files"; }

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
for e in $editions; do
  lower="$(tr '[:upper:]' '[:lower:]' <<<"$e")"
  grep -qx "Exec=${e}_bmsmon" "$root/usr/share/applications/bmsmon-${lower}.desktop" || fail "Exec of $e"
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root"/usr/share/applications/*.desktop || fail "desktop entries"
fi
for page in bmsmon bmsmon-cli bmssim; do
  zcat "$root/usr/share/man/man1/$page.1.gz" | grep -q '^\.TH' || fail "man page $page"
done

# The installed programs run from the scratch root.
"$root/usr/bin/bmsmon-cli" --help | grep -q "Subcommands:" || fail "bmsmon-cli --help"
"$root/usr/bin/bmssim" --help | grep -q -- "--scenario" || fail "bmssim --help"
QT_QPA_PLATFORM=offscreen "$root/usr/bin/TQ58_ENG_bmsmon" --help | grep -q -- "--simulate" || fail "TQ58_ENG_bmsmon --help"

# And they work together: the installed virtual pack on a pseudo-terminal,
# polled by the installed command-line front end.
# bmssim prints the device path as its first line once it serves.
coproc SIM { exec "$root/usr/bin/bmssim" 2>&1; }
sim_pid=$SIM_PID
read -r -t 10 -u "${SIM[0]}" device || fail "bmssim did not start"
[ -c "$device" ] || fail "bmssim printed no device: $device"
out="$("$root/usr/bin/bmsmon-cli" monitor --port "$device" --cycles 1 --json)" || fail "monitor against bmssim"
grep -q '"cycle"' <<<"$out" || fail "no cycle from the installed programs: $out"
echo "installed bmsmon-cli polled the installed bmssim: one cycle"
echo "PASS: $files files"
