#!/usr/bin/env bash
# Signs a UEFI image for Secure Boot and checks the result.
#
#   e2e/sign.sh KEY CERT IN OUT
#
# KEY is a PEM private key, CERT the PEM certificate that goes with it (the
# one the firmware's db holds). A key protected by a passphrase is opened
# with the passphrase in $SIGN_KEY_PASS, into a private temporary copy that
# is removed afterwards. The signed image is written to OUT only when
# sbverify accepts it against CERT and sbsign reported nothing about the
# image's section layout (a gap or overlap there makes some firmware refuse
# an image whose signature is otherwise good). sbsign writes into a temporary
# file beside OUT, which is verified, synced and then renamed over OUT: a
# refusal or a failure at any step leaves OUT as it was.
set -euo pipefail

if [ $# -ne 4 ]; then
  echo "usage: $0 KEY CERT IN OUT" >&2
  exit 2
fi
key=$1 cert=$2 in=$3 out=$4
for f in "$key" "$cert" "$in"; do
  [ -r "$f" ] || { echo "sign.sh: cannot read $f" >&2; exit 2; }
done
for tool in sbsign sbverify openssl; do
  command -v "$tool" >/dev/null || { echo "sign.sh: $tool not found (install sbsigntool openssl)" >&2; exit 2; }
done
out_dir=$(dirname -- "$out")
[ -d "$out_dir" ] || { echo "sign.sh: the folder $out_dir does not exist; create it or give another OUT" >&2; exit 2; }
[ ! -d "$out" ] || { echo "sign.sh: $out is a folder; give OUT the path of a file" >&2; exit 2; }
if [ -e "$out" ] && [ ! -w "$out" ]; then
  echo "sign.sh: cannot write $out: it is read-only; nothing written" >&2
  exit 1
fi

work=$(mktemp -d)
partial=""
trap 'rm -rf "$work"; [ -z "$partial" ] || rm -f "$partial"' EXIT
chmod 700 "$work"
if ! partial=$(mktemp "$out_dir/.$(basename -- "$out").XXXXXX.partial" 2>/dev/null); then
  partial=""
  echo "sign.sh: cannot write in $out_dir (no file can be made there); nothing written" >&2
  exit 1
fi

# sbsign wants both in PEM form; say how to convert rather than show openssl's error stack.
if ! grep -q -- "-----BEGIN CERTIFICATE-----" "$cert" || ! openssl x509 -in "$cert" -noout 2>/dev/null; then
  if openssl x509 -inform DER -in "$cert" -noout 2>/dev/null; then
    echo "sign.sh: $cert is a DER certificate; convert it to PEM first:" \
      "openssl x509 -inform DER -in $cert -out cert.pem" >&2
  else
    echo "sign.sh: $cert is not an X.509 certificate (PEM) that openssl can read" >&2
  fi
  exit 2
fi
if ! grep -q -- "-----BEGIN .*PRIVATE KEY-----" "$key"; then
  if openssl pkey -inform DER -in "$key" -noout -passin pass: 2>/dev/null; then
    echo "sign.sh: $key is a DER key; convert it to PEM first: openssl pkey -inform DER -in $key -out key.pem" >&2
  else
    echo "sign.sh: $key is not a PEM private key" >&2
  fi
  exit 2
fi

if grep -q "ENCRYPTED" "$key"; then
  if [ -z "${SIGN_KEY_PASS:-}" ]; then
    echo "sign.sh: $key is protected by a passphrase: set SIGN_KEY_PASS" >&2
    exit 2
  fi
  if ! (umask 077 && SIGN_KEY_PASS=$SIGN_KEY_PASS openssl pkey -in "$key" -passin env:SIGN_KEY_PASS \
          -out "$work/key.pem" 2>"$work/openssl.log"); then
    echo "sign.sh: the passphrase in SIGN_KEY_PASS does not open $key; set the right one" >&2
    exit 2
  fi
  key=$work/key.pem
fi
if [ "$(openssl pkey -in "$key" -pubout 2>/dev/null)" != "$(openssl x509 -in "$cert" -noout -pubkey)" ]; then
  echo "sign.sh: $key is not the private key of $cert; give the pair that belongs together" >&2
  exit 2
fi

if ! sbsign --key "$key" --cert "$cert" --output "$partial" "$in" >"$work/sbsign.log" 2>&1; then
  cat "$work/sbsign.log" >&2
  echo "sign.sh: sbsign failed on $in; $out is as it was" >&2
  exit 1
fi
if grep -qi "warning\|gap\|overlap" "$work/sbsign.log"; then
  cat "$work/sbsign.log" >&2
  echo "sign.sh: sbsign did not accept the section layout of $in" >&2
  exit 1
fi
if ! sbverify --cert "$cert" "$partial" >"$work/sbverify.log" 2>&1; then
  cat "$work/sbverify.log" >&2
  echo "sign.sh: the signed image does not verify against $cert" >&2
  exit 1
fi
# The signed image takes the mode of the file it replaces (or the umask's), then replaces it in one rename.
if [ -e "$out" ]; then
  mode=$(stat -c %a -- "$out")
else
  mode=$(printf '%o' $((0666 & ~$(umask))))
fi
if ! chmod "$mode" "$partial" || ! sync -- "$partial" || ! mv -f -- "$partial" "$out"; then
  echo "sign.sh: cannot put the signed image in place as $out; $out is as it was" >&2
  exit 1
fi
partial=""
echo "sign.sh: $out signed and verified ($(stat -c %s "$in") -> $(stat -c %s "$out") bytes)"
