#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need (and
# netcat, for the README's examples of talking to the instrument).
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-14-dev
  libfltk1.1-dev libsigc++-2.0-dev libserial-dev libjsoncpp-dev
  libjpeg62-turbo-dev libx11-dev libpng-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils fonts-dejavu-core
  python3 python3-pyvisa python3-pyvisa-py python3-pytest python3-serial
  netcat-openbsd
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
fltk_version=$(fltk-config --version)
case "$fltk_version" in
  1.1*) ;;
  *) echo "FLTK 1.1 is needed, fltk-config says $fltk_version" >&2; exit 1 ;;
esac
