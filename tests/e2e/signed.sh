# A signed Windows build: a throwaway certificate authority and a code-signing certificate, made
# with openssl in the scratch directory, sign a build of the tool (facup.exe and what it needs);
# facup.exe passes osslsigncode's verification against that authority (and fails it against the
# system's), both programs keep their version resources, and a run of the signed tool upgrades the
# simulated camera and writes a units\Shttpd.exe that passes the verification too.
# usage (inside sandbox usb): signed.sh <source dir> <scratch dir> <firmware image> <version x.y.z>
. "$(dirname "$0")/lib.sh"
source_dir=$1
image=$3
version=$4
e2e_init windows "$2/build/bin/facup.exe" "$2"
signer=$E2E_SCRATCH/signer
build=$E2E_SCRATCH/build

# make_signer: the authority, and a certificate it issued for code signing, in a PKCS#12 file whose
# password is in a file of its own.
make_signer() {
  mkdir -p "$signer" && cd "$signer" || return 1
  printf 'basicConstraints = critical, CA:FALSE\nkeyUsage = critical, digitalSignature\nextendedKeyUsage = codeSigning\n' >leaf.ext
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Quorvane test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" &&
    openssl req -newkey rsa:2048 -nodes -keyout leaf.key -out leaf.csr -subj "/CN=Quorvane test signer" &&
    openssl x509 -req -in leaf.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile leaf.ext -out leaf.pem &&
    printf 'throwaway password\n' >password &&
    openssl pkcs12 -export -inkey leaf.key -in leaf.pem -certfile ca.pem -passout file:password -out signer.p12
  local rc=$?
  cd - >/dev/null
  return $rc
}

# verified <program> [authority]: "ok" when osslsigncode verifies its SHA-256 signature against the
# authority (the system's bundle when none is given).
verified() {
  local out
  out=$(osslsigncode verify ${2:+-CAfile "$2"} -ignore-cdp -in "$1" 2>&1)
  grep -q '^Signature verification: ok' <<<"$out" && grep -q 'Message digest algorithm *: SHA256' <<<"$out" && echo ok
}

echo "== a build signed with a throwaway certificate =="
make_signer >"$E2E_SCRATCH/signer.log" 2>&1 || { cat "$E2E_SCRATCH/signer.log"; exit 1; }
{
  cmake -S "$source_dir" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64.cmake" -DFACUP_WERROR=ON \
    -DFACUP_BUILD_TESTS=OFF -DFIRMWARE_IMAGE="$image" -DFACUP_SIGN_PKCS12="$signer/signer.p12" \
    -DFACUP_SIGN_PASSWORD_FILE="$signer/password" && cmake --build "$build" -j "$(nproc)" --target facup
} >"$E2E_SCRATCH/build.log" 2>&1 || { tail -n 40 "$E2E_SCRATCH/build.log"; exit 1; }
check "facup.exe verifies against the authority" "$(verified "$E2E_TOOL" "$signer/ca.pem")" ok
check "facup.exe does not verify against the system's authorities" "$(verified "$E2E_TOOL")" ""
check "both version resources are still there" \
  "$(python3 "$e2e_repo/tests/integration/windows_resources.py" "$version" "$image" "$E2E_TOOL" "$build/bin/Shttpd.exe" \
     >"$E2E_SCRATCH/resources.log" 2>&1 && echo ok)" ok

echo "== a run of the signed tool =="
start_camera
run_silent signed
check "the signed tool upgraded the camera" "$result" ok0
check "the units\\Shttpd.exe it wrote verifies against the authority" \
  "$(verified "$(root_path units/Shttpd.exe)" "$signer/ca.pem")" ok

e2e_finish
