#!/bin/bash
# stage.sh ARCH OUT MKSETUP WINBUILD - the fixture of the end-to-end tests of
# one architecture: the products and their setups in OUT/stage, and the
# template Wine prefix in OUT/template that every scenario copies.
#
# demo: the example product as it is (samples, no Startup shortcut).
# viewer: another configuration: the install folder "Tamberlyn" (so the
#   finished text is the plain one), no samples description, a help file
#   with an upper-case extension, a Start Menu subfolder, a Startup shortcut
#   with arguments, other name formats, a class brush of another colour
#   (BackgroundColor, which the bands cover); and a large data file, so that its
#   installing dialog lasts long enough to be held by the Cancel question.
# big: the demo with a 10 MB sample, long enough to cancel while it decodes
#   (built twice: with the worker thread and with the worker run in place).
# french, russian, japanese: the international examples (code pages 1252,
#   1251 and 932) with this architecture's program and a Startup shortcut.
# Damaged copies of demo: the last bytes cut off, and one entry's data spoilt.
set -uo pipefail
ARCH="$1" OUT="$2" MKSETUP="$3" WINBUILD="$4"
HERE="$(cd "$(dirname "$0")" && pwd)"
ROOT="$(cd "$HERE/../.." && pwd)"
. "$HERE/env.sh"

STUB="$WINBUILD/app/tambsetup.exe"
STUB_INPLACE="$WINBUILD/app/tambsetup_inplace.exe"
DEMO_EXE="$WINBUILD/examples/demo/Demo.exe"
STAGE="$OUT/stage"
TEMPLATE="$OUT/template"
die() {
    echo "FAIL: $*"
    exit 1
}
for file in "$MKSETUP" "$STUB" "$STUB_INPLACE" "$DEMO_EXE"; do
    [ -f "$file" ] || die "missing $file (build it first)"
done
for tool in Xvfb convert wine wineboot wineserver; do
    command -v "$tool" >/dev/null 2>&1 || die "$tool is missing (scripts/bootstrap.sh installs it)"
done
mkdir -p "$OUT/logs" "$STAGE"

# ---- the products and their setups ----
demo="$ROOT/examples/demo"
rm -rf "$STAGE/demo" "$STAGE/viewer" "$STAGE/big"
mkdir -p "$STAGE/demo" "$STAGE/viewer" "$STAGE/big"
cp "$demo"/setup.ini "$demo"/Help.txt "$demo"/License.txt "$demo"/Sample1.txt "$demo"/Sample2.txt \
    "$demo"/Pattern.bmp "$DEMO_EXE" "$STAGE/demo/" || die "cannot copy the demo product"
# The example takes its program from the i686 build; the staged copy takes
# this architecture's, next to the script.
sed -i 's|^Demo.exe = .*|Demo.exe = Demo.exe|' "$STAGE/demo/setup.ini"

# Text-like data: compresses to about half, and decodes at a few MB/s.
if [ ! -s "$STAGE/Data.txt" ]; then
    awk 'BEGIN { srand(7); for (i = 0; i < 150000; i++) { line = i; for (j = 0; j < 10; j++) line = line " " sprintf("%x", int(rand() * 1000000)); print line } }' \
        >"$STAGE/Data.txt" || die "cannot write the big data file"
fi

cp "$DEMO_EXE" "$demo"/License.txt "$demo"/Sample1.txt "$STAGE/Data.txt" "$STAGE/viewer/"
printf 'Tamb Viewer help (a stand-in for a WinHelp file)\r\n' >"$STAGE/viewer/Viewer.HLP"
cat >"$STAGE/viewer/setup.ini" <<'INI'
[Setup]
ProductName = Tamb Viewer
ProductVersion = 2.5b
InstallFolder = Tamberlyn
StartMenuSubfolder = Extras
RunningWindowClass = TambDemoWindow
SamplesDescription =
StartupArguments = -tray
UninstallShortcutFormat = Remove %s
InstallingLabelFormat = Setting up %s
StartupShortcut = yes
BackgroundColor = #6B3E26
Uninstaller = Uninstall.exe
Program = Viewer.exe
[Files]
Viewer.exe = Demo.exe
Viewer.HLP = Viewer.HLP
License.txt = License.txt
[Samples]
Sample1.txt = Sample1.txt
Data.txt = Data.txt
INI

cp "$STAGE/demo"/* "$STAGE/Data.txt" "$STAGE/big/"
printf 'Data.txt = Data.txt\n' >>"$STAGE/big/setup.ini"

# The examples' sources lie in ../demo; the program comes from the staged
# demo. The French script keeps its byte-order mark and CRLF line ends.
international=(french russian japanese)
for name in "${international[@]}"; do
    rm -rf "${STAGE:?}/$name"
    mkdir -p "$STAGE/$name"
    sed -e 's|= \.\./\.\./build/win32/examples/demo/Demo\.exe|= ../demo/Demo.exe|' \
        -e 's|^\(\[Setup\]\)\(\r\?\)$|\1\2\nStartupShortcut = yes\2|' \
        "$ROOT/examples/international/$name.ini" >"$STAGE/$name/setup.ini" || die "cannot stage $name"
    grep -q '^StartupShortcut = yes' "$STAGE/$name/setup.ini" && grep -q '= ../demo/Demo.exe' "$STAGE/$name/setup.ini" ||
        die "the staged $name script lacks its Startup shortcut or the staged program"
done

log="$OUT/logs/mksetup.txt"
: >"$log"
build() { "$MKSETUP" build "$1" -o "$STAGE/$2" --stub "$3" >>"$log" 2>&1 || die "mksetup failed for $2 (see $log)"; }
build "$STAGE/demo/setup.ini" DemoSetup.exe "$STUB"
build "$STAGE/viewer/setup.ini" ViewerSetup.exe "$STUB"
build "$STAGE/big/setup.ini" BigSetup.exe "$STUB"
build "$STAGE/big/setup.ini" BigSetupInPlace.exe "$STUB_INPLACE"
build "$STAGE/french/setup.ini" FrenchSetup.exe "$STUB"
build "$STAGE/russian/setup.ini" RussianSetup.exe "$STUB"
build "$STAGE/japanese/setup.ini" JapaneseSetup.exe "$STUB"

size=$(stat -c %s "$STAGE/DemoSetup.exe")
head -c $((size - 100)) "$STAGE/DemoSetup.exe" >"$STAGE/TruncatedSetup.exe"

# Spoil the middle of the entry of Sample2.txt (File5, the second sample):
# four files and the Samples folder exist by the time it is reached.
read -r offset stored < <("$MKSETUP" list "$STAGE/DemoSetup.exe" | awk '$1 == "File5" { print $8, $5 }')
[ -n "${offset:-}" ] || die "mksetup list shows no File5 in DemoSetup.exe"
cp "$STAGE/DemoSetup.exe" "$STAGE/DamagedSetup.exe"
printf '\x55\xaa\x55\xaa\x55\xaa\x55\xaa' |
    dd of="$STAGE/DamagedSetup.exe" bs=1 seek=$((offset + stored / 2)) conv=notrunc status=none
# Setups the builder refuses to make, one per kind of bad configuration,
# and one sound one to show that a crafted setup can install at all.
CRAFT="$(cd "$(dirname "$MKSETUP")/../.." && pwd)/tests/craftsetup"
[ -x "$CRAFT" ] || die "missing $CRAFT (the native build makes it)"
craft() {
    local name="$1"
    shift
    "$CRAFT" "$STUB" "$STAGE/$name" "$@" >>"$log" 2>&1 || die "craftsetup failed for $name (see $log)"
}
craft CraftedSound.exe
craft CraftedParent.exe 'names=Uninst.exe|..\..\evil.txt|Readme.txt'
craft CraftedSlash.exe 'names=Uninst.exe|../x.txt|Readme.txt'
craft CraftedTrailingDots.exe 'names=Uninst.exe|Demo.exe...|Readme.txt'
craft CraftedDevice.exe 'names=Uninst.exe|Demo.exe|CON.txt'
craft CraftedSystemFile.exe 'folder=..\..\windows' 'names=Uninst.exe|Demo.exe|win.ini'
craft CraftedSubfolder.exe 'subfolder=..\..\x'
craft CraftedMissingEntry.exe skip=2
craft CraftedNoFiles.exe count=0
craft CraftedDeviceConin.exe 'names=Uninst.exe|Demo.exe|CONIN$'
craft CraftedShortAlias.exe 'names=Uninst.exe|Demo.exe|Documentation-long.txt|DOCU~ABT.TXT'
craft CraftedProductKey.exe 'product=AC\DC'
craft CraftedDialogClass.exe 'class=#32770'
craft CraftedShortcutClash.exe 'uninstallformat=%s'
craft CraftedLineBreak.exe "$(printf 'product=Crafted\r\nOutput = x')"

# The demo signed with a throwaway certificate made here (no key material is
# kept in the repository); the signature must verify, and must stop verifying
# when a byte of the package changes.
sign="$OUT/signing"
rm -rf "$sign" "$STAGE/SignedSetup.exe"
mkdir -p "$sign"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$sign/key.pem" -out "$sign/cert.pem" -days 2 \
    -subj "/CN=TambSetup test signer" -addext "extendedKeyUsage=codeSigning" >>"$log" 2>&1 ||
    die "openssl could not make a test certificate (see $log)"
osslsigncode sign -certs "$sign/cert.pem" -key "$sign/key.pem" -n "Demo Setup" \
    -in "$STAGE/DemoSetup.exe" -out "$STAGE/SignedSetup.exe" >>"$log" 2>&1 || die "osslsigncode sign failed (see $log)"
osslsigncode verify -CAfile "$sign/cert.pem" -in "$STAGE/SignedSetup.exe" >>"$log" 2>&1 ||
    die "the signed demo does not verify (see $log)"
"$MKSETUP" verify "$STAGE/SignedSetup.exe" >"$sign/verify.txt" 2>&1 || die "mksetup verify refuses the signed demo: $(cat "$sign/verify.txt")"
grep -q "signed: certificate table at offset $(stat -c %s "$STAGE/DemoSetup.exe")," "$sign/verify.txt" ||
    die "mksetup verify does not report the certificate table right after the package: $(cat "$sign/verify.txt")"
cp "$STAGE/SignedSetup.exe" "$sign/Flipped.exe"
printf '\x01' | dd of="$sign/Flipped.exe" bs=1 seek=$(($(stat -c %s "$STAGE/DemoSetup.exe") - 1000)) conv=notrunc status=none
if osslsigncode verify -CAfile "$sign/cert.pem" -in "$sign/Flipped.exe" >>"$log" 2>&1; then
    die "a byte changed inside the signed package, and the signature still verifies"
fi
echo "staged: $(cd "$STAGE" && ls ./*.exe | tr '\n' ' ')"

# ---- the template prefix, made once per Wine version and architecture ----
# No window manager runs on Xvfb: Wine draws no frames and manages no
# windows (Decorated=N, Managed=N), so dialogs sit where the program puts them.
stamp="$(wine --version 2>/dev/null) $ARCH undecorated"
if [ "$(cat "$TEMPLATE/.e2e-stamp" 2>/dev/null)" != "$stamp" ]; then
    echo "making the template Wine prefix $TEMPLATE"
    rm -rf "$TEMPLATE"
    export WINEARCH="$ARCH" WINEPREFIX="$TEMPLATE"
    trap 'stop_wine; stop_xvfb' EXIT
    start_xvfb 24 "$OUT/logs/xvfb-template.txt" || die "no display for wineboot"
    wineboot -i </dev/null >"$OUT/logs/wineboot.txt" 2>&1
    for value in Decorated Managed; do
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v "$value" /d N /f </dev/null >>"$OUT/logs/wineboot.txt" 2>&1
    done
    stop_wine
    [ -f "$TEMPLATE/system.reg" ] || die "wineboot could not make $TEMPLATE (see $OUT/logs/wineboot.txt)"
    # Read back what the scenarios rely on, now that the server has saved it.
    for value in Decorated Managed; do
        grep -q "^\"$value\"=\"N\"" "$TEMPLATE/user.reg" || die "the template prefix lacks $value=N"
    done
    echo "$stamp" >"$TEMPLATE/.e2e-stamp"
fi
echo "template prefix: $TEMPLATE ($stamp)"
