#!/usr/bin/env bash
# Installs dependencies, builds with warnings as errors, and runs every test;
# then repeats the build and tests under AddressSanitizer + UBSan, and fuzzes
# the privileged helper's argument check and the parsers for a few seconds each.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSOMNARA_WERROR=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSOMNARA_WERROR=ON -DSOMNARA_SANITIZE=ON
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs" -LE bench

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DSOMNARA_FUZZ=ON
cmake --build build-fuzz -j "$jobs" --target pmsethelper_args_fuzz \
  settings_file_fuzz message_fuzz power_supply_fuzz info_plist_fuzz desktop_entry_fuzz
ctest --test-dir build-fuzz --output-on-failure -L fuzz -j "$jobs"
