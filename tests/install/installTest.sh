#!/usr/bin/env bash
# installTest.sh BUILD_DIR SOURCE_DIR C_COMPILER [C flags...]: installs the build into a scratch prefix,
# checks that exactly the executable, the versioned library and the public header land there, then
# builds a C program against the installed header and library with the C compiler and runs it.
set -euo pipefail
build=$1
source=$2
cc=$3
shift 3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null

version=$(sed -n 's/^#define ZELKOR_VERSION_\(MAJOR\|MINOR\) *\([0-9]*\).*/\2/p' "$source/core/zelkorVersion.h" |
          paste -sd.)
major=${version%%.*}
libdir=$(cd "$prefix" && ls -d lib* | head -n 1)

expected=$(printf '%s\n' bin/Morvane include/zelkor.h "$libdir/libzelkor.so" "$libdir/libzelkor.so.$major" \
                        "$libdir/libzelkor.so.$version" | sort)
found=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
if [ "$found" != "$expected" ]; then
    echo "installed files differ from the expected set"
    diff <(echo "$expected") <(echo "$found") || true
    exit 1
fi
[ -L "$prefix/$libdir/libzelkor.so" ] && [ -L "$prefix/$libdir/libzelkor.so.$major" ] ||
    { echo "the unversioned and SONAME names must be links to the versioned library"; exit 1; }

soname=$(readelf -d "$prefix/$libdir/libzelkor.so.$version" | sed -n 's/.*Library soname: \[\(.*\)\].*/\1/p')
[ "$soname" = "libzelkor.so.$major" ] || { echo "SONAME is '$soname', expected libzelkor.so.$major"; exit 1; }

"$cc" -std=c11 -Wall -Wextra -Werror -pedantic "$@" -I"$prefix/include" "$source/tests/install/offline.c" \
      -L"$prefix/$libdir" -lzelkor -Wl,-rpath,"$prefix/$libdir" -o "$prefix/offline"
out=$("$prefix/offline")
want=$(printf 'version %s\nchip type 2\nclosed' "$version")
if [ "$out" != "$want" ]; then
    echo "the installed library answered:"
    echo "$out"
    exit 1
fi

# The installed executable finds the installed library by itself.
"$prefix/bin/Morvane" -h >/dev/null
echo "installed and used: $found" | tr '\n' ' '
echo
