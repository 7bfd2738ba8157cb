#!/usr/bin/env bash
# Installs the Debian packages that building and testing the suite needs:
# the compilers and CMake, libdeflate (its static library, which the reader
# decodes Deflate with), GoogleTest, Google Benchmark and libtiff (the
# tests' independent oracle); clang with its runtime libraries
# (libclang-rt-14-dev holds libFuzzer and the sanitizer runtimes of clang
# 14) for the fuzz harnesses; for the install checks, man and groff (the man
# pages), dpkg-dev and file (cpack's Debian package and its dependencies),
# lintian, and GNU parallel (the scale-out example); the readers that the
# headers of pvheader are tested with (teem's unu, VTK for Python, GDAL),
# NumPy and tifffile (the writer of the programs' Python-made inputs),
# without their recommended packages (VTK's alone are hundreds of
# megabytes). Already installed packages are left alone.
set -euo pipefail
packages=(cmake g++ make libdeflate-dev libgtest-dev libbenchmark-dev libtiff-dev clang libclang-rt-14-dev
          man-db groff-base dpkg-dev file lintian parallel)
readers=(teem-apps python3-vtk9 gdal-bin python3-numpy python3-tifffile)
missing=()
missing_readers=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
for p in "${readers[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing_readers+=("$p")
done
[ ${#missing[@]} -eq 0 ] && [ ${#missing_readers[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
[ ${#missing[@]} -eq 0 ] || $sudo apt-get install -y -qq "${missing[@]}"
[ ${#missing_readers[@]} -eq 0 ] || $sudo apt-get install -y -qq --no-install-recommends "${missing_readers[@]}"
