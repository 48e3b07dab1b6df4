#!/usr/bin/env bash
# Installs the Debian packages the build and tests need, only those missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang lld llvm libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev libpng-dev liblzma-dev libgd-dev pkg-config nlohmann-json3-dev libstb-dev
  qemu-system-x86 ovmf u-boot-qemu mtools dosfstools sbsigntool uefitool-cli openssl python3
  clang-format black flake8 python3-hypothesis
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Debian 13's OVMF, unpacked into the build folder (never installed).
"$(dirname "$0")/fetch-newer-ovmf.sh"
