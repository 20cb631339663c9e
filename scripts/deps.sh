#!/usr/bin/env bash
# Installs the Debian packages the build needs; quick when they are already present.
# `deps.sh fuzz` adds what the fuzz harnesses need (clang and its libFuzzer runtime).
set -euo pipefail
pkgs=(g++ cmake ninja-build pkg-config libpugixml-dev libssl-dev libgtest-dev libgmock-dev
      libbenchmark-dev clang-format libsqlite3-dev libcurl4-openssl-dev libcpp-httplib-dev openssl
      libcli11-dev nlohmann-json3-dev)
if [ "${1:-}" = fuzz ]; then
  pkgs+=(clang libclang-rt-14-dev)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
