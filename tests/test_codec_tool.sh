#!/bin/bash
# test_codec_tool.sh CODEC [RUNNER...] - drives the codec tool as a person
# would: round trips, the fixed byte images of small inputs, and bad input,
# which must give exit status 1, one line on stderr naming the file, and no
# output file (an existing one is left as it was). RUNNER (e.g. wine) runs a
# Windows build of the tool.
set -u
codec_path="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
shift
runner=("$@")
export WINEDEBUG=-all

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok - $1"; }
fail() { failed=$((failed + 1)); echo "FAILED - $1: $2"; }

codec() { "${runner[@]}" "$codec_path" "$@"; }

# Runs the tool; sets status and leaves its stderr in err.txt. Under a runner
# the runner's own notices (Wine's "wine: ..." lines, e.g. when it updates its
# prefix) are not the tool's output and are dropped, and a run that never
# reached the tool because the Wine server was just shutting down ("wine
# client error") is started once more.
run() {
    local attempt=1
    while [ "$attempt" -le 2 ]; do
        attempt=$((attempt + 1))
        codec "$@" >out.txt 2>err.txt
        status=$?
        [ "${#runner[@]}" -gt 0 ] || return 0
        tr -d '\r' <err.txt | grep -v '^wine: ' >err.clean
        mv err.clean err.txt
        grep -q '^wine client error' err.txt || return 0
        echo "note: Wine did not start the tool ($(head -1 err.txt)); trying again" >&2
        sleep 1
    done
}

leftovers() { find . -maxdepth 1 \( -name '*.codec-tmp' -o -name '*.codec-blocks' \) -print; }

expect_success() {
    local name="$1"
    shift
    run "$@"
    if [ "$status" != 0 ]; then
        fail "$name" "exit $status: $(cat err.txt)"
        return 1
    fi
    if [ -s err.txt ]; then
        fail "$name" "unexpected stderr: $(cat err.txt)"
        return 1
    fi
    return 0
}

same() { cmp -s "$1" "$2"; }
hex() { od -An -tx1 -v "$1" | tr -s ' \n' ' '; }

# ---- inputs ---------------------------------------------------------------------
: >empty
printf 'abc' >abc
seq 1 40000 >text                     # about 230 KB of text: many blocks
head -c 150000 /dev/urandom >noise    # incompressible: the coded stream grows
cp "$codec_path" program              # a real binary

# ---- fixed byte images ------------------------------------------------------------
# The empty input: the size block and an empty last block.
printf '\x52\x43\xa5\x68\x0a\x00\x00\x00\x00\x00\x52\x43\xa5\x68\x06\x00' >empty.expected
printf '\x52\x43\xa8\x68\x0a\x00\x03\x00\x00\x00\x52\x43\x33\x6c\x0a\x00\xf6\xfb\xbd\xe0' >abc.expected
printf '\x00\x00\x00\x00' >empty.bare.expected
printf '\x03\x00\x00\x00\xf6\xfb\xbd\xe0' >abc.bare.expected
for input in empty abc; do
    if expect_success "pack $input" pack $input $input.packed; then
        if same $input.packed $input.expected; then pass "pack $input gives the fixed image"
        else fail "pack $input gives the fixed image" "got $(hex $input.packed)"; fi
    fi
    if expect_success "encode $input" encode $input $input.bare; then
        if same $input.bare $input.bare.expected; then pass "encode $input gives the fixed image"
        else fail "encode $input gives the fixed image" "got $(hex $input.bare)"; fi
    fi
done

# ---- round trips ------------------------------------------------------------------
for input in empty abc text noise program; do
    if expect_success "pack $input" pack $input $input.packed &&
        expect_success "unpack $input" unpack $input.packed $input.unpacked; then
        if same $input $input.unpacked; then pass "pack/unpack $input"
        else fail "pack/unpack $input" "unpacked bytes differ"; fi
    fi
    if expect_success "encode $input" encode $input $input.bare &&
        expect_success "decode $input" decode $input.bare $input.decoded; then
        # The bare stream is the packed one without its 6-byte block headers.
        packed_size=$(wc -c <$input.packed)
        bare_size=$(wc -c <$input.bare)
        blocks=$(( 1 + (packed_size - 10) / 10240 + 1 ))
        if ! same $input $input.decoded; then fail "encode/decode $input" "decoded bytes differ"
        elif [ $((packed_size - bare_size)) != $((6 * blocks)) ]; then
            fail "encode/decode $input" "bare $bare_size bytes, packed $packed_size in $blocks blocks"
        else pass "encode/decode $input"; fi
    fi
done
if [ -z "$(leftovers)" ]; then pass "round trips leave no temporary files"
else fail "round trips leave no temporary files" "$(leftovers)"; fi

# Unpacking over an existing file replaces it.
echo old >replaced
if expect_success "unpack over an existing file" unpack text.packed replaced && same text replaced; then
    pass "unpack replaces an existing output file"
else
    fail "unpack replaces an existing output file" "content differs"
fi

# ---- PC1 -----------------------------------------------------------------------
if expect_success "pc1 encrypt" pc1 encrypt secret text text.enc &&
    expect_success "pc1 decrypt" pc1 decrypt secret text.enc text.dec &&
    expect_success "pc1 decrypt, wrong key" pc1 decrypt secreT text.enc text.wrong; then
    if same text text.enc; then fail "pc1" "enciphered text equals the plain text"
    elif ! same text text.dec; then fail "pc1" "deciphering does not restore the text"
    elif same text text.wrong; then fail "pc1" "a wrong key restores the text"
    else pass "pc1 encrypt/decrypt"; fi
fi
# Only the first ten characters of a key count.
if expect_success "pc1 long key 1" pc1 encrypt 0123456789abc abc abc.k1 &&
    expect_success "pc1 long key 2" pc1 encrypt 0123456789xyz abc abc.k2 &&
    expect_success "pc1 long key 3" pc1 encrypt 012345678_xyz abc abc.k3; then
    if same abc.k1 abc.k2 && ! same abc.k1 abc.k3; then pass "pc1 keys count ten characters"
    else fail "pc1 keys count ten characters" "$(hex abc.k1) / $(hex abc.k2) / $(hex abc.k3)"; fi
fi
if expect_success "pc1 empty" pc1 encrypt key empty empty.enc && [ ! -s empty.enc ]; then
    pass "pc1 on an empty file"
else
    fail "pc1 on an empty file" "output not empty"
fi

# ---- bad input -------------------------------------------------------------------
# flip FILE OFFSET: inverts one byte.
flip() {
    local byte
    byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
    # shellcheck disable=SC2059  # the format is the octal escape of the new byte
    printf "\\$(printf %03o $((byte ^ 0xFF)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
text_packed_size=$(wc -c <text.packed)
cp text.packed bad.checksum && flip bad.checksum 10300
cp text.packed bad.magic && flip bad.magic 10250
cp text.packed bad.length && printf '\x05\x00' | dd of=bad.length bs=1 seek=14 conv=notrunc status=none
head -c $((text_packed_size - 5)) text.packed >cut.inblock
head -c 20490 text.packed >cut.atblock
head -c 7 text.packed >cut.first
bare_size=$(wc -c <text.bare)
head -c $((bare_size / 2)) text.bare >cut.bare
printf 'ab' >short.bare
mkdir folder

# expect_failure NAME WORD FILE ARGS...: exit 1, one stderr line naming FILE
# and containing WORD, and the output (the last argument) left as it was.
expect_failure() {
    local name="$1" word="$2" file="$3"
    shift 3
    local output="${*: -1}"
    [ -d "$(dirname "$output")" ] && echo keep >"$output"
    run "$@"
    local lines
    lines=$(wc -l <err.txt)
    if [ "$status" != 1 ]; then fail "$name" "exit $status, expected 1: $(cat err.txt)"
    elif [ "$lines" != 1 ]; then fail "$name" "$lines lines on stderr: $(cat err.txt)"
    elif ! grep -qF -- "$file" err.txt; then fail "$name" "stderr does not name $file: $(cat err.txt)"
    elif ! grep -qi -- "$word" err.txt; then fail "$name" "stderr does not say '$word': $(cat err.txt)"
    elif [ -d "$(dirname "$output")" ] && [ "$(cat "$output")" != keep ]; then fail "$name" "$output was changed"
    elif [ -n "$(leftovers)" ]; then fail "$name" "left $(leftovers)"
    else pass "$name: $(cat err.txt)"; fi
    rm -f "$output"
}

expect_failure "unpack, wrong checksum"       checksum  bad.checksum unpack bad.checksum out
expect_failure "unpack, wrong magic"          magic     bad.magic    unpack bad.magic out
expect_failure "unpack, block length below 6" length    bad.length   unpack bad.length out
expect_failure "unpack, not a packed file"    magic     text         unpack text out
expect_failure "unpack, cut inside a block"   truncated cut.inblock  unpack cut.inblock out
expect_failure "unpack, cut after a block"    truncated cut.atblock  unpack cut.atblock out
expect_failure "unpack, cut in the first block" truncated cut.first  unpack cut.first out
expect_failure "unpack, empty file"           truncated empty        unpack empty out
expect_failure "decode, cut coded stream"     truncated cut.bare     decode cut.bare out
expect_failure "decode, no size bytes"        truncated short.bare   decode short.bare out
expect_failure "pack, missing input"          "no such" missing      pack missing out
expect_failure "unpack, input is a folder"    folder    folder       unpack folder out
expect_failure "pc1, missing input"           "no such" missing      pc1 encrypt key missing out
expect_failure "pack, output folder missing"  create    nowhere/out  pack abc nowhere/out
if truncate -s 2147483648 huge 2>/dev/null; then
    expect_failure "pack, a 2 GB input"       "2 GB"    huge         pack huge out
    expect_failure "pc1, a 2 GB input"        "2 GB"    huge         pc1 encrypt key huge out
    rm -f huge
fi

# ---- arguments --------------------------------------------------------------------
for arguments in "" "pack" "pack abc" "pack abc x y" "squeeze abc x" "pc1 encrypt key abc" "pc1 sideways key abc x"; do
    # shellcheck disable=SC2086
    run $arguments
    if [ "$status" = 2 ] && grep -q usage err.txt; then pass "usage for '$arguments'"
    else fail "usage for '$arguments'" "exit $status: $(cat err.txt)"; fi
done
run --help
if [ "$status" = 0 ] && grep -q usage out.txt; then pass "--help"; else fail "--help" "exit $status"; fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
