#!/usr/bin/env bash
# Installs dependencies, builds with warnings as errors, and runs every test;
# then repeats the build and tests under AddressSanitizer + UBSan, runs every
# fuzz target (the parsers of what another process or a user controls) for a
# few seconds each, builds, installs, upgrades and purges the Debian package
# (scripts/package-test.sh), and checks that package on a booted systemd in a
# container (scripts/systemd-test.sh).
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
cmake --build build-fuzz -j "$jobs" --target somnara_fuzz_targets
ctest --test-dir build-fuzz --output-on-failure -L fuzz -j "$jobs"

bash scripts/package-test.sh
bash scripts/systemd-test.sh
