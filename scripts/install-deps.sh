#!/usr/bin/env bash
# Installs, from Debian's packages, everything needed to build, run and test ZELK.
set -euo pipefail

packages=(
    build-essential clang clang-format cmake ninja-build pkg-config
    qt6-base-dev qt6-declarative-dev qt6-svg-dev libxkbcommon-dev libqt6svg6
    qml6-module-qtquick qml6-module-qtqml qml6-module-qtquick-controls qml6-module-qtquick-templates
    qml6-module-qtquick-layouts qml6-module-qtquick-window qml6-module-qtqml-workerscript
    qml6-module-qtquick-dialogs qml6-module-qttest qml6-module-qtqml-models qt6-declarative-dev-tools
    libmicrohttpd-dev libsqlite3-dev libargon2-dev libsndfile1-dev libfftw3-dev libtorch-dev
    ffmpeg fonts-liberation xvfb xauth
    desktop-file-utils appstream dpkg shared-mime-info
    time
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
