#!/usr/bin/env bash
# Installs the Debian packages Orvane needs to build, run and test.
# Only missing packages are installed; "--all" adds the fuzzing and benchmark tools.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config ccache
    qtbase5-dev libqt5sql5-sqlite libqt5sql5-psql postgresql qttranslations5-l10n
    libqrcodegencpp-dev libhunspell-dev hunspell-ru libxlsxwriter-dev libsqlite3-dev libzip-dev libfreexl-dev python3-openpyxl python3-xlsxwriter
    qtkeychain-qt5-dev libsecret-1-0 dbus gnome-keyring
    fonts-liberation
    xvfb xauth poppler-utils zbar-tools sqlite3 imagemagick
    desktop-file-utils groff-base man-db
)
if [ "${1:-}" = "--all" ]; then
    packages+=(clang libclang-rt-14-dev python3-reportlab libbenchmark-dev)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
