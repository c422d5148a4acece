#!/usr/bin/env bash
# kestrin.exe signed as the release workflow signs it (osslsigncode, SHA-256, the program's name and a URL),
# but with a throwaway CA and an RSA code-signing certificate made here, and without the timestamp (-ts asks
# a timestamp server on the network). The signature verifies against that CA; removing it gives back the
# unsigned bytes exactly; tools/reproduce accepts the signed file and names its signer; a copy with one byte
# changed after signing fails verification and tools/reproduce refuses it.
#
#   tests/signing.sh <kestrin.exe> <tools directory>
#
# tools/reproduce builds kestrin.exe again from a fresh tree (a minute or two). It builds the sources as
# they are: HEAD, or, with uncommitted changes, the commit `git stash create` makes of them (nothing in the
# working tree, the index or the stash changes).
set -euo pipefail
exe="$(realpath "$1")"
tools="$(realpath "$2")"
source_dir="$(dirname "$tools")"
work="$(mktemp -d "${TMPDIR:-/tmp}/kestrin-signing.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work"

failed=0
fail() {
    echo "FAIL: $*" >&2
    failed=1
}

subject="/CN=Kestrin Test Signer/O=Kestrin"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Kestrin Throwaway CA" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "$subject" 2>/dev/null
printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature extendedKeyUsage=codeSigning >signer.ext
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile signer.ext \
    -out signer.pem 2>/dev/null
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -passout pass:throwaway -out signer.p12
printf 'throwaway' >password
osslsigncode sign -pkcs12 signer.p12 -readpass password -h sha256 -n "Windows Kestrin" \
    -i https://example.invalid/kestrin -in "$exe" -out signed.exe >/dev/null

# The signature verifies against the CA, and names the signer.
if osslsigncode verify -in signed.exe -CAfile ca.pem >verify.txt 2>&1; then
    grep -qF "Subject: $subject" verify.txt || fail "the signature does not name $subject"
    echo "signed.exe: the signature verifies against the throwaway CA"
else
    cat verify.txt >&2
    fail "the signature does not verify against the CA that issued its certificate"
fi

# Without the signature, the same bytes as the unsigned build.
osslsigncode remove-signature -in signed.exe -out unsigned.exe >/dev/null
if cmp unsigned.exe "$exe"; then
    echo "signed.exe without its signature: the same $(stat -c %s "$exe") bytes as kestrin.exe"
else
    fail "signed.exe without its signature differs from kestrin.exe"
fi

# One byte changed after signing, in the middle of the image.
cp signed.exe tampered.exe
offset=$(($(stat -c %s "$exe") / 2))
byte="$(od -An -tu1 -j "$offset" -N1 tampered.exe | tr -d ' ')"
printf "\\$(printf '%03o' $((byte ^ 1)))" | dd of=tampered.exe bs=1 seek="$offset" conv=notrunc status=none
cmp -s signed.exe tampered.exe && fail "the tampered copy is not changed"
if osslsigncode verify -in tampered.exe -CAfile ca.pem >tampered.txt 2>&1; then
    fail "the copy changed after signing verifies"
else
    grep -E 'MISMATCH' tampered.txt >&2 || fail "the copy changed after signing fails verification, but not on its digest"
fi
status=0
"$tools/reproduce" --cafile ca.pem tampered.exe >reproduce-tampered.txt 2>&1 || status=$?
if [[ $status -eq 0 ]]; then
    fail "tools/reproduce accepts the copy changed after signing"
elif ! grep 'was changed after it was signed' reproduce-tampered.txt >&2; then
    cat reproduce-tampered.txt >&2
    fail "tools/reproduce refuses the copy changed after signing, but not for its signature"
fi

# tools/reproduce, as a rebuilder without the CA runs it: the signed file is accepted, its signer named.
# (The throwaway commit needs a name to be made by; any will do.)
git=(git -c safe.directory="$source_dir" -c user.name=kestrin-test -c user.email=kestrin-test@invalid -C "$source_dir")
revision="$("${git[@]}" stash create)"
status=0
"$tools/reproduce" --revision "${revision:-HEAD}" signed.exe >reproduce.txt 2>&1 || status=$?
cat reproduce.txt
if [[ $status -ne 0 ]]; then
    fail "tools/reproduce does not accept the signed kestrin.exe (exit status $status)"
elif ! grep -qE "^kestrin.exe: signed by $subject; without its signature, a clean build of [0-9a-f]+ gives the same" \
    reproduce.txt; then
    fail "tools/reproduce accepts the signed kestrin.exe without naming $subject"
fi

exit $failed
