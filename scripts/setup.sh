# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by ./run and ./test: install the Debian packages that are missing, then configure and build.
# Sourced, not run.

PELICORDE_PACKAGES=(
  build-essential cmake pkg-config
  qt6-translations-l10n   # Qt's own texts (edit menus, standard buttons) in French
  qt6-base-dev qt6-webengine-dev libgl-dev libgmime-3.0-dev
  dovecot-pop3d openssl
  fonts-liberation
  dbus-daemon desktop-file-utils appstream dpkg-dev file   # notification tests, the .deb and its checks
)

# Only for ./test fuzz and ./test asan: clang with its libFuzzer and sanitizer runtimes.
PELICORDE_SANITIZER_PACKAGES=(clang libclang-rt-dev)

say() { printf '\033[1m==> %s\033[0m\n' "$*"; }

ensure_packages() {
  local missing=() p
  for p in "${PELICORDE_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "Pelicorde needs these Debian packages: ${missing[*]}" >&2
      echo "Install them as root (apt-get install ${missing[*]}), or install sudo, then run this again." >&2
      exit 1
    fi
    sudo=(sudo)
  fi
  say "Installing missing Debian packages: ${missing[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

BUILD_DIR=${PELICORDE_BUILD_DIR:-build}
PELICORDE_CMAKE_ARGS=()   # extra arguments of the first configure (./test fuzz, ./test asan)

build_pelicorde() {
  if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    say "Configuring the build in $BUILD_DIR/ (Release)"
    cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release "${PELICORDE_CMAKE_ARGS[@]}" >/dev/null
  fi
  say "Building"
  cmake --build "$BUILD_DIR" --parallel "$(nproc)" "$@"
}
