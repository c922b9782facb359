#!/bin/bash
# test_builders_agree.sh NATIVE_MKSETUP WINDOWS_MKSETUP DEMO_EXE SOURCE_ROOT [RUNNER...]
# The Linux and the Windows builder make byte-identical setups from the same
# script: the demo and the international examples (UTF-8 with and without a
# byte-order mark, CRLF, code pages 1252, 1251 and 932, names that hold a
# 0x5C byte in 932), with sources named with "/" on one line and "\" on
# another. RUNNER (wine) runs the Windows builder.
set -u
native="$1" windows="$2" demo_exe="$3" root="$4"
shift 4
runner=("$@")
export WINEDEBUG=-all

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0
fail() { failed=$((failed + 1)); echo "FAILED - $1"; }

# The examples as they stand, their program taken from this build and one
# source of each named with backslashes.
mkdir -p "$work/demo" "$work/out"
cp "$root"/examples/demo/{Help.txt,License.txt,Sample1.txt,Sample2.txt,Pattern.bmp,setup.ini} "$demo_exe" "$work/demo/" ||
    { echo "FAILED - cannot stage the demo"; exit 1; }
sed -i 's|^Demo.exe = .*|Demo.exe = Demo.exe|' "$work/demo/setup.ini"
scripts=(demo/setup.ini)
for name in french russian japanese; do
    mkdir -p "$work/$name"
    sed -e 's|= \.\./\.\./build/win32/examples/demo/Demo\.exe|= ../demo/Demo.exe|' \
        -e 's|= \.\./demo/Sample2\.txt|= ..\\demo\\Sample2.txt|' \
        "$root/examples/international/$name.ini" >"$work/$name/setup.ini"
    grep -q '\\demo\\Sample2.txt' "$work/$name/setup.ini" || fail "$name: the backslash source was not staged"
    scripts+=("$name/setup.ini")
done

cd "$work" || exit 1
for script in "${scripts[@]}"; do
    name="${script%%/*}"
    if ! "$native" -q build "$script" -o "out/$name.native.exe" 2>"out/$name.native.err"; then
        fail "$name: the native builder refused it: $(cat "out/$name.native.err")"
        continue
    fi
    # Wine may print notices of its own on stderr; the exit status decides.
    if ! "${runner[@]}" "$windows" -q build "$script" -o "out/$name.windows.exe" 2>"out/$name.windows.err"; then
        fail "$name: the Windows builder refused it: $(tr -d '\r' <"out/$name.windows.err")"
        continue
    fi
    if cmp -s "out/$name.native.exe" "out/$name.windows.exe"; then
        echo "ok - $name: both builders make the same $(stat -c %s "out/$name.native.exe") bytes"
    else
        fail "$name: the builders make different setups ($(cmp "out/$name.native.exe" "out/$name.windows.exe" | head -1))"
    fi
done
[ "$failed" = 0 ] && echo "all ${#scripts[@]} scripts: the same setups" || echo "$failed failed"
[ "$failed" = 0 ]
