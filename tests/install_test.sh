#!/usr/bin/env bash
# The installed tree, moved, or the Debian package, unpacked: hairlab lists and renders from
# there with the plug-in of the installed layout, the plug-in resolves only to the installed
# stand-in host and the C/C++ runtime, no RUNPATH is absolute, and a host project built with
# find_package(brdf_hair) shades a point through the installed headers.
#   tests/install_test.sh tree|deb   (ctest sets HAIR_BUILD_DIR, HAIR_SOURCE_DIR, HAIR_VERSION)
set -euo pipefail
mode=$1
if [ "${HAIR_SANITIZED:-0}" = 1 ]; then
    echo "SKIPPED: sanitizer build; the installed binaries would need the sanitizer runtimes"
    exit 77
fi
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset HAIRLAB_PLUGIN LD_LIBRARY_PATH

if [ "$mode" = tree ]; then
    cmake --install "$HAIR_BUILD_DIR" --prefix "$work/first" >/dev/null
    mv "$work/first" "$work/moved"
    root=$work/moved
else
    command -v dpkg-deb >/dev/null || fail "dpkg-deb is missing (scripts/deps installs dpkg-dev)"
    (cd "$HAIR_BUILD_DIR" && cpack -G DEB -B "$work/pkg" >/dev/null)
    deb=$(ls "$work"/pkg/*.deb)
    dpkg-deb -f "$deb" Version | grep -qx "$HAIR_VERSION" || fail "package version is not $HAIR_VERSION"
    dpkg -x "$deb" "$work/unpacked"
    root=$work/unpacked/usr
fi

plugin=$root/lib/quor/plugins/libbrdf_hair.so
for f in "$root/bin/hairlab" "$plugin" "$root/lib/libquor.so.1" "$root/include/quor/quor.h" \
         "$root/share/doc/brdf_hair/host-guide.md" "$root/share/doc/brdf_hair/README.md" \
         "$root/lib/cmake/brdf_hair/brdf_hairConfig.cmake"; do
    [ -e "$f" ] || fail "not installed: ${f#"$root"/}"
done

# RUNPATHs relative to their file; the plug-in needs nothing but the installed host and the runtime.
for f in "$root/bin/hairlab" "$plugin" "$root/lib/libquor.so.1"; do
    readelf -d "$f" | grep -E 'R(UN)?PATH' | grep -v '\$ORIGIN' && fail "absolute RUNPATH in ${f#"$root"/}"
    readelf -d "$f" | grep -E 'R(UN)?PATH' | grep -q "$HAIR_BUILD_DIR" && fail "build-tree RUNPATH in ${f#"$root"/}"
done
[[ $(readelf -d "$plugin") == *"Library soname: [libbrdf_hair.so.${HAIR_VERSION%%.*}]"* ]] || fail "plug-in SONAME"
while read -r name arrow path _; do
    [ "$arrow" = "=>" ] || continue
    case "$name" in
    libquor.so.*) [ "$(realpath "$path")" = "$(realpath "$root/lib/libquor.so.1")" ] ||
        fail "libquor resolves to $path, not the installed one" ;;
    libstdc++.so.* | libm.so.* | libgcc_s.so.* | libc.so.*) ;;
    *) fail "the plug-in needs $name ($path)" ;;
    esac
done < <(ldd "$plugin")
[[ $(ldd "$plugin") != *"not found"* ]] || fail "unresolved: $(ldd "$plugin")"

cd "$work"
[ "$("$root/bin/hairlab" --version)" = "hairlab $HAIR_VERSION" ] || fail "hairlab --version"
[[ $'\n'$("$root/bin/hairlab" list) == *$'\nBRDFHair4 ('* ]] || fail "hairlab list from the installed tree"
"$root/bin/hairlab" render -q --scene swatch --res 16x16 --spp 1 --strands 50 -o x.png >/dev/null
[ -s x.png ] || fail "no picture rendered"

# A host project against the installed package only.
cmake -S "$HAIR_SOURCE_DIR/tests/consumer" -B consumer -G Ninja -DCMAKE_PREFIX_PATH="$root" \
    -DHAIR_EXAMPLE="$HAIR_SOURCE_DIR/examples/minimal_host.cpp" >/dev/null
cmake --build consumer >/dev/null
[[ $(consumer/minimal_host "$(cat consumer/plugin_path.txt)") == "BRDFHair: 4 types"* ]] ||
    fail "the example host built against the package"
echo "install test ($mode): passed"
