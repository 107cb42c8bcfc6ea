#!/usr/bin/env bash
# Installs, from Debian's packages, what the named parts of the build need
# and the machine lacks. Parts: native (default), cross, wine32, fuzz, preview,
# serve, bake, browser, perf.
set -euo pipefail

packages_for() {
  case "$1" in
    native) echo "cmake ninja-build g++ libgtest-dev googletest libbenchmark-dev nlohmann-json3-dev libcli11-dev python3" ;;
    # The Windows x86, Windows x86-64 and PowerPC builds, and what runs their
    # programs: Wine's 64-bit loader and qemu-user.
    cross) echo "gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686" \
                "gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64" \
                "g++-powerpc-linux-gnu qemu-user wine wine64" ;;
    # Wine's 32-bit loader, from the i386 architecture, for the Windows x86
    # tests: only of use where the machine runs 32-bit x86 programs
    # (tests/probe-x86-32.sh).
    wine32) echo "wine32:i386" ;;
    # stratamix preview: OpenImageIO writes the PNG and EXR files and draws
    # the labels in DejaVu Sans.
    preview) echo "libopenimageio-dev fonts-dejavu-core" ;;
    # stratamix bake: assimp reads the meshes (the bake's core, its tests and
    # its fuzz target need it; the command itself also needs the preview).
    bake) echo "libassimp-dev" ;;
    # stratamix serve: libmicrohttpd, found through its pkg-config file.
    serve) echo "libmicrohttpd-dev pkg-config" ;;
    # The page's test in headless Chromium: Debian's chromium, and node with
    # npm for playwright-core (a node already installed from elsewhere, whose
    # package brings its own npm, is kept).
    browser)
      if command -v node >/dev/null && command -v npm >/dev/null; then
        echo "chromium"
      else
        echo "chromium nodejs npm"
      fi
      ;;
    # The fuzzer (libFuzzer, clang) and the performance report (callgrind, the plot).
    fuzz) echo "clang-14 libclang-rt-14-dev" ;;
    perf) echo "valgrind gnuplot-nox" ;;
    *) echo "install-deps.sh: unknown part '$1'" >&2; exit 2 ;;
  esac
}

missing=()
for part in "${@:-native}"; do
  for pkg in $(packages_for "$part"); do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  for pkg in "${missing[@]}"; do
    arch="${pkg##*:}"
    if [ "$arch" != "$pkg" ] && [ "$arch" != "$(dpkg --print-architecture)" ] &&
      ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
      echo "install-deps.sh: adding the $arch architecture"
      $sudo dpkg --add-architecture "$arch"
    fi
  done
  echo "install-deps.sh: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The browser test's npm packages, exactly as tests/browser/package-lock.json
# pins them.
for part in "$@"; do
  if [ "$part" = browser ]; then
    echo "install-deps.sh: npm ci in tests/browser"
    (cd "$(dirname "$0")/../tests/browser" && npm ci --no-audit --no-fund --loglevel=error)
  fi
done
