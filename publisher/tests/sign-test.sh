#!/bin/sh
# Builds an update natively from a folder (files at the top and in
# subfolders, the same as InstallRoundTripTest.cpp's), signs it with
# osslsigncode and a throwaway certificate made here, and checks that the
# signature verifies and that the package still verifies. The Wine test
# publisher_install_tests then installs the signed update.
# Usage: sign-test.sh UPDPUB UPDATER.EXE WORKDIR
set -eu
updpub=$1 updater=$2 work=$3
rm -rf "$work"
mkdir -p "$work/src/sub/deeper"
cd "$work"

printf 'read me\r\n' > src/readme.txt
: > src/empty.bin
printf '[game]\r\nlevel=3\r\n' > src/sub/Config.ini
# Pseudo-random bytes (the same sizes as the Windows test's samples).
pattern() {
    awk -v n="$1" -v seed="$2" 'BEGIN {
        for (i = 0; i < n; i++) {
            seed = (seed * 69069 + 12345) % 4294967296
            printf "%c", int(seed / 65536) % 256
        } }' 
}
LC_ALL=C pattern 2097159 1 > src/data01200.arc
LC_ALL=C pattern 70000 2 > src/sub/deeper/voice.ogg
printf '「ヴェストリアル」Updater 1.01\n' > caption.txt

"$updpub" build --image "$updater" --caption-file caption.txt --folder src --output unsigned.exe
"$updpub" verify unsigned.exe

# A throwaway code-signing certificate, valid for a day.
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 1 \
    -subj "/CN=Throwaway Test Publisher" -addext "extendedKeyUsage=codeSigning" \
    -addext "keyUsage=digitalSignature" 2>/dev/null
osslsigncode sign -certs cert.pem -key key.pem -n "Vestrial Updater" -h sha256 \
    -in unsigned.exe -out signed.exe
osslsigncode verify -CAfile cert.pem -in signed.exe

# The signature only touches the PE header (inside the image) and appends
# its certificate table after the data; the package bytes are unchanged.
cmp -i 131072 -n $(( $(wc -c < unsigned.exe) - 131072 )) unsigned.exe signed.exe
"$updpub" verify signed.exe
"$updpub" list signed.exe | grep "after the last entry's data"
echo "sign-test: signed $(wc -c < unsigned.exe) -> $(wc -c < signed.exe) bytes; verifies"
