#!/usr/bin/env bash
# Installs the Debian 12 packages Tessera needs to build, run and test; installs nothing
# that is already there. Usage: scripts/install-deps.sh [--test] [--fuzz]
set -euo pipefail

packages=(cmake g++ make pkg-config qt6-base-dev libzip-dev zlib1g-dev libdeflate-dev libbz2-dev liblzma-dev libzstd-dev libssl-dev libc6-dev
          libicu-dev libuchardet-dev  # code pages of entry names, and telling which one
          fonts-dejavu-core fonts-liberation2 zip unzip
          time)  # GNU time: the benchmarks measure peak memory with it
for flag in "$@"; do
  case "$flag" in
    # e2fsprogs and mount (losetup): a test mounts a real file system on a loop device.
    --test) packages+=(libgtest-dev libgmock-dev python3 7zip zstd e2fsprogs mount) ;;
    # fuzz/run.sh: clang with libFuzzer and the sanitizer runtimes
    --fuzz) packages+=(clang libclang-rt-14-dev python3 zip zstd) ;;
    *) echo "usage: $0 [--test] [--fuzz]" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
