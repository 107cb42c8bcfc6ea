#!/usr/bin/env bash
# Installs, from Debian's packages, what the named parts of the build need
# and the machine lacks. Parts: native (default), cross, fuzz, preview.
set -euo pipefail

packages_for() {
  case "$1" in
    native) echo "cmake ninja-build g++ libgtest-dev googletest libbenchmark-dev nlohmann-json3-dev" ;;
    # stratamix preview: OpenImageIO writes the PNG and EXR files and draws
    # the labels in DejaVu Sans.
    preview) echo "libopenimageio-dev fonts-dejavu-core" ;;
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
  echo "install-deps.sh: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
