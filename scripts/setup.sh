#!/usr/bin/env bash
# Installs the Debian packages the build, tests, benchmarks and fuzzers need (gdb: the
# stress program's watchdog prints every thread's stack with it; CLI11: the command lines of
# the tools; help2man: their man pages; python3: the Python client and its tests).
# Idempotent: when everything is present it prints nothing and returns at once.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config git
  clang clang-format libclang-rt-dev
  libboost1.81-all-dev
  libpoco-dev
  libprotobuf-dev protobuf-compiler
  libicu-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libcli11-dev help2man python3
  gdb
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq >/dev/null
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
