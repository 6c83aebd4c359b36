#!/usr/bin/env bash
# Installs a built tembra into a temporary prefix and builds the consumer
# program against it in the three ways a user can: find_package,
# add_subdirectory and pkg-config. Run by ctest as package_consumers:
#   run_consumers.sh <build dir> <source dir> <c++ compiler> <version> [cmake options...]
# The options are passed to the consumer configurations (the generator,
# -DTEMBRA_WERROR=...).
set -euo pipefail

build_dir=$1
source_dir=$2
cxx=$3
version=$4
shift 4
cmake_options=("$@")
jobs=${TEMBRA_PACKAGE_JOBS:-2}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/tembra-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() {
    echo "package_consumers: $*" >&2
    exit 1
}

# Quiet on success, everything on failure.
run() {
    local log=$work/last.log
    if ! "$@" >"$log" 2>&1; then
        cat "$log" >&2
        fail "failed: $*"
    fi
}

echo "== install into $prefix"
run cmake --install "$build_dir" --prefix "$prefix"

# What the install must and must not contain.
libdir=$(dirname "$(find "$prefix" -name 'libtembra.so' -print -quit)")
[ -n "$libdir" ] && [ "$libdir" != . ] || fail "libtembra.so not installed"
[ -L "$libdir/libtembra.so" ] || fail "libtembra.so is not a symlink"
soname=$(objdump -p "$libdir/libtembra.so" | awk '$1 == "SONAME" { print $2 }')
[ "$soname" = "libtembra.so.${version%%.*}" ] || fail "SONAME is '$soname', expected libtembra.so.${version%%.*}"
[ -L "$libdir/$soname" ] || fail "$soname symlink not installed"
[ -f "$libdir/libtembra.so.$version" ] || fail "libtembra.so.$version not installed"
for header in libtembra.h Utility.h AbstractAction.h Types.h Report.h Export.h; do
    [ -f "$prefix/include/tembra/$header" ] || fail "include/tembra/$header not installed"
done
[ ! -e "$prefix/include/tembra/FileIO.h" ] || fail "the internal FileIO.h was installed"
[ -f "$libdir/cmake/tembra/tembraConfig.cmake" ] || fail "tembraConfig.cmake not installed"
[ -f "$libdir/cmake/tembra/tembraConfigVersion.cmake" ] || fail "tembraConfigVersion.cmake not installed"
[ -f "$libdir/pkgconfig/tembra.pc" ] || fail "tembra.pc not installed"
# The tools, when built, are installed beside the library and find it from
# there by themselves.
if [ -f "$build_dir/tools/tembra-inspect" ]; then
    for tool in tembra-inspect tembra-sweep; do
        [ -x "$prefix/bin/$tool" ] || fail "bin/$tool not installed"
        run env -u LD_LIBRARY_PATH "$prefix/bin/$tool" --help
    done
    [ -f "$prefix/share/tembra/learning_curve.gp" ] || fail "share/tembra/learning_curve.gp not installed"
fi

# The Python module, when built (TEMBRA_PYTHON_EXECUTABLE names its
# interpreter), is installed into the prefix's platlib and imports from there
# with the installed library, without LD_LIBRARY_PATH.
if [ -n "${TEMBRA_PYTHON_EXECUTABLE:-}" ]; then
    echo "== the Python module from the prefix"
    module=$(find "$prefix" -name '_tembra*.so' -print -quit)
    [ -n "$module" ] || fail "the Python module was not installed"
    site=$(dirname "$(dirname "$module")")
    [ -f "$site/tembra/gym.py" ] || fail "tembra/gym.py was not installed beside the module"
    # Run from the prefix, away from the build tree.
    (cd "$prefix" && env -u LD_LIBRARY_PATH PYTHONPATH="$site" "$TEMBRA_PYTHON_EXECUTABLE" -c \
        "import tembra, tembra.gym; assert tembra.__file__.startswith('$site'); s = tembra.State(); s.registerVariable('x', 0, 3); tembra.StateLookupTable(s)") ||
        fail "the installed Python module does not import"
fi

echo "== find_package(tembra CONFIG) consumer"
run cmake -S "$here/find_package" -B "$work/find_package" "${cmake_options[@]}" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$prefix" -DTEMBRA_EXPECTED_VERSION="$version"
run cmake --build "$work/find_package" -j "$jobs"
# The build tree's RPATH points at the prefix: this runs the installed library.
"$work/find_package/consumer" || fail "find_package consumer failed"

echo "== add_subdirectory(tembra) consumer"
# Debug: the library is compiled once more here, and -O0 keeps that short.
run cmake -S "$here/add_subdirectory" -B "$work/add_subdirectory" "${cmake_options[@]}" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Debug -DTEMBRA_SOURCE_DIR="$source_dir"
run cmake --build "$work/add_subdirectory" -j "$jobs"
"$work/add_subdirectory/consumer" || fail "add_subdirectory consumer failed"

echo "== pkg-config consumer"
export PKG_CONFIG_PATH=$libdir/pkgconfig
pc_version=$(pkg-config --modversion tembra) || fail "pkg-config does not find tembra"
[ "$pc_version" = "$version" ] || fail "pkg-config reports version $pc_version, expected $version"
# As the README says: the rpath from pkg-config, so that the program starts
# without LD_LIBRARY_PATH from a prefix the loader does not search.
# shellcheck disable=SC2046  # the flags are meant to be split
run "$cxx" -std=c++17 -Wall -Wextra -Wpedantic -Wno-ignored-qualifiers -Werror \
    "$here/main.cpp" -o "$work/pkg_config_consumer" $(pkg-config --cflags --libs tembra) \
    -Wl,-rpath,"$(pkg-config --variable=libdir tembra)"
env -u LD_LIBRARY_PATH "$work/pkg_config_consumer" || fail "pkg-config consumer failed"

echo "package_consumers: all three consumers built and ran"
