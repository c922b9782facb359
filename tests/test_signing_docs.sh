#!/bin/bash
# test_signing_docs.sh MKSETUP SOURCE_DIR - runs the test-certificate steps of
# docs/signing.md as written, on the demo's setup (with a stand-in for the
# demo program), and checks what the text says of them: without -CAfile the
# signature of a self-signed certificate does not verify.
set -euo pipefail
mksetup="$1"
source="$2"
for tool in openssl osslsigncode; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/bootstrap.sh installs it)"; exit 1; }
done
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
steps="$(awk '/^### Trying it out with a test certificate/ { found = 1 }
              found && /^```sh$/ { inside = 1; next }
              inside && /^```$/ { exit }
              inside { print }' "$source/docs/signing.md")"
[ -n "$steps" ] || { echo "FAIL: docs/signing.md has no test-certificate steps"; exit 1; }

mkdir -p "$scratch/tree/examples" "$scratch/tree/build/win32/examples/demo" "$scratch/bin"
cp -r "$source/examples/demo" "$scratch/tree/examples/"
head -c 30000 /dev/urandom >"$scratch/tree/build/win32/examples/demo/Demo.exe"
"$mksetup" -q build "$scratch/tree/examples/demo/setup.ini" -o "$scratch/DemoSetup-unsigned.exe"
ln -s "$(cd "$(dirname "$mksetup")" && pwd)/$(basename "$mksetup")" "$scratch/bin/mksetup"

cd "$scratch"
if ! PATH="$scratch/bin:$PATH" bash -euo pipefail -c "$steps" >steps.txt 2>&1; then
    echo "FAIL: the steps of docs/signing.md do not go through:"
    cat steps.txt
    exit 1
fi
grep -q "signed: certificate table at offset $(stat -c %s DemoSetup-unsigned.exe)," steps.txt ||
    { echo "FAIL: mksetup verify does not see the signature:"; cat steps.txt; exit 1; }
if osslsigncode verify -in DemoSetup.exe >plain.txt 2>&1; then
    echo "FAIL: the test certificate verifies without -CAfile; the text says it does not"
    exit 1
fi
echo "the test-certificate steps of docs/signing.md sign and verify the demo's setup"
