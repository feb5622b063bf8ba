#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Movaro Gif needs.
# Idempotent and quick when everything is present; refreshes the package lists only when
# something is missing. Pass extra package names as arguments (the fuzz preset adds clang).
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libjpeg62-turbo-dev libpng-dev zlib1g-dev libgif-dev
  libgraphicsmagick++1-dev libcli11-dev
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  # installing and packaging: checks of the desktop entry and metainfo, cpack -G DEB
  desktop-file-utils appstream dpkg-dev file man-db
  # decoders the app calls at run time
  ghostscript fonts-urw-base35 fonts-dejavu-core
  # end-to-end tests and peers used by tests
  xvfb xauth xdotool x11-utils imagemagick graphicsmagick poppler-utils python3
  # clips for the video import tests and the benchmark
  ffmpeg
)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "install-deps: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
