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
# an image whose signature is otherwise good).
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

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 700 "$work"

if grep -q "ENCRYPTED" "$key"; then
  if [ -z "${SIGN_KEY_PASS:-}" ]; then
    echo "sign.sh: $key is protected by a passphrase: set SIGN_KEY_PASS" >&2
    exit 2
  fi
  (umask 077 && SIGN_KEY_PASS=$SIGN_KEY_PASS openssl pkey -in "$key" -passin env:SIGN_KEY_PASS -out "$work/key.pem")
  key=$work/key.pem
fi

if ! sbsign --key "$key" --cert "$cert" --output "$work/signed.efi" "$in" >"$work/sbsign.log" 2>&1; then
  cat "$work/sbsign.log" >&2
  echo "sign.sh: sbsign failed on $in" >&2
  exit 1
fi
if grep -qi "warning\|gap\|overlap" "$work/sbsign.log"; then
  cat "$work/sbsign.log" >&2
  echo "sign.sh: sbsign did not accept the section layout of $in" >&2
  exit 1
fi
if ! sbverify --cert "$cert" "$work/signed.efi" >"$work/sbverify.log" 2>&1; then
  cat "$work/sbverify.log" >&2
  echo "sign.sh: the signed image does not verify against $cert" >&2
  exit 1
fi
mv "$work/signed.efi" "$out"
echo "sign.sh: $out signed and verified ($(stat -c %s "$in") -> $(stat -c %s "$out") bytes)"
