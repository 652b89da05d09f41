#!/usr/bin/env bash
# Makes the Debian package from a built tree as a packager does (`cpack -G DEB`) and runs
# lintian on it. Any error or warning fails, except the tags the package's own overrides
# file (data/lintian-overrides) lists; an override that matches nothing any more fails
# too, so the list cannot outlive its reason.
#   check_package.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" ||
  { cat "$out/cpack.log" >&2; exit 1; }
debs=("$out"/*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || { echo "FAIL: cpack made ${debs[*]}" >&2; exit 1; }
deb=${debs[0]}
echo "package: $(basename "$deb")"

# Not --show-overrides: with it, lintian fails on the tags that the package overrides.
status=0
report=$(lintian --fail-on error,warning --display-info "$deb" 2>&1) || status=$?
[[ -n $report ]] && echo "$report"
[[ $status -eq 0 ]] || fail "lintian found errors or warnings (status $status)"
if grep -q ' unused-override ' <<<"$report"; then
  fail "data/lintian-overrides lists a tag that lintian no longer reports"
fi

# The changelog's newest entry is the release being packaged (lintian does not compare
# them in a binary package; a missing changelog it reports itself).
version=$(dpkg-deb --field "$deb" Version)
if changelog=$(dpkg-deb --fsys-tarfile "$deb" |
  tar -xOf - ./usr/share/doc/quillmark/changelog.gz 2>/dev/null | gzip -dc); then
  newest=$(sed -n '1s/^quillmark (\([^)]*\)).*/\1/p' <<<"$changelog")
  [[ $newest == "$version" ]] ||
    fail "the changelog's newest entry is '$newest', the package is $version: add an entry to data/changelog"
fi

[[ $failures -eq 0 ]] && echo "package: lintian reports no error and no warning"
exit $((failures > 0))
