#!/usr/bin/env bash
# What a user of an installed pvtools meets, checked on a built tree:
#   - cmake --install into an empty prefix gives the seven programs and the
#     man pages, and installed programs run (pvsplit on the demo's
#     volume gives the demo's slices, byte for byte; pvheader writes a
#     header for it);
#   - every man page renders with man --warnings without a single warning,
#     and the pvexpand-nolzw and pvexpand-fast pages lead to pvexpand(1);
#   - cpack -G DEB makes the Debian package, whose contents are listed, and
#     lintian (if installed) finds no error in it;
#   - examples/parallel-quantise.sh on the demo's slices gives files
#     byte-identical to a serial loop of pvquant.
# Usage: scripts/check-install.sh [build-dir]   (default: build-release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build-release}" && pwd)
work=$build/check-install
rm -rf "$work"
mkdir -p "$work"
fail() {
  echo "check-install: $*" >&2
  exit 1
}
programs=(pvsplit pvheader pvquant pvexpand pvexpand-nolzw pvexpand-fast pvstack)
pages=(man1/pvsplit.1 man1/pvheader.1 man1/pvquant.1 man1/pvexpand.1 man1/pvexpand-nolzw.1
       man1/pvexpand-fast.1 man1/pvstack.1 man5/pvtools.5)

# The demo's volume and slices, which the checks below compare against.
demo=$build/demo
[ -f "$demo/phantom.bin" ] && [ -d "$demo/float" ] || tests/demo/demo.sh "$build" >/dev/null

echo "== cmake --install into an empty prefix"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for p in "${programs[@]}"; do
  [ -x "$prefix/bin/$p" ] || fail "bin/$p not installed"
done
for page in "${pages[@]}"; do
  [ -e "$prefix/share/man/$page.gz" ] || fail "share/man/$page.gz not installed"
done
[ -f "$prefix/share/doc/pvtools/README.md" ] || fail "share/doc/pvtools/README.md not installed"
echo "   $(ls "$prefix/bin" | wc -l) programs, $(find "$prefix/share/man" -name '*.gz' | wc -l) man pages"
mkdir "$work/slices"
"$prefix/bin/pvsplit" "$demo/phantom.bin" "$work/slices/slice%03d.tif" >/dev/null
diff -r "$demo/float" "$work/slices" || fail "installed pvsplit: slices differ from the demo's"
echo "   installed pvsplit: $(ls "$work/slices" | wc -l) slices, as in the demo"
"$prefix/bin/pvheader" "$demo/phantom.bin" "$work/phantom.nhdr" 0.5 0.5 1 ||
  fail "installed pvheader failed"
grep -q '^data file: ' "$work/phantom.nhdr" || fail "installed pvheader: no data file in the .nhdr"
echo "   installed pvheader: a .nhdr for the demo's volume"

echo "== man pages render without a warning"
for page in docs/man/*.[1-9]; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
done
for alias in pvexpand-nolzw pvexpand-fast; do
  LC_ALL=C.UTF-8 MANWIDTH=80 man -M "$prefix/share/man" "$alias" 2>/dev/null | grep '^PVEXPAND(1)' >/dev/null ||
    fail "man $alias does not show pvexpand(1)"
done
echo "   $(ls docs/man/*.[1-9] | wc -l) pages"

echo "== cpack -G DEB"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >/dev/null
debs=("$work"/deb/*.deb)
[ -f "${debs[0]}" ] || fail "no package made"
deb=${debs[0]}
echo "   ${deb##*/}"
dpkg-deb --field "$deb" Package Version Section Depends | sed 's/^/   /'
dpkg-deb --contents "$deb" | awk '{print "   " $1, $6, $7, $8}'
contents=$(dpkg-deb --contents "$deb")
for p in "${programs[@]}"; do
  grep -q " \./usr/bin/$p\$" <<<"$contents" || fail "$p not in the package"
done
for page in "${pages[@]}"; do
  grep -q " \./usr/share/man/$page\.gz" <<<"$contents" || fail "$page not in the package"
done
if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" || fail "lintian reports an error"
  echo "   lintian: no error"
else
  echo "   lintian not installed: not run"
fi

echo "== examples/parallel-quantise.sh against a serial loop"
command -v parallel >/dev/null || fail "GNU parallel not installed (scripts/install-test-deps.sh)"
PVQUANT=$prefix/bin/pvquant examples/parallel-quantise.sh -j 2 "$demo/float" "$work/parallel"
mkdir "$work/serial"
for f in "$demo"/float/*.tif; do
  printf '%s\t' "${f##*/}"
  "$prefix/bin/pvquant" "$f" 8 "$work/serial/${f##*/}"
done > "$work/serial/ranges.tsv"
diff -r "$work/serial" "$work/parallel" || fail "parallel and serial results differ"
echo "   $(ls "$work/parallel"/*.tif | wc -l) slices byte-identical, ranges.tsv identical"
