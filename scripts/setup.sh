# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by ./run and ./test: install the Debian packages that are missing, then configure and build.
# Sourced, not run.

# What the program needs to be built and run (./run).
PELICORDE_PACKAGES=(
  build-essential cmake pkg-config
  qt6-translations-l10n   # Qt's own texts (edit menus, standard buttons) in French
  qt6-base-dev qt6-webengine-dev libgl-dev libgmime-3.0-dev
  qtkeychain-qt6-dev libsecret-1-0   # the password in the desktop's keyring (QtKeychain loads libsecret)
  libqt6sql6-sqlite   # Qt SQL's SQLite driver: the learned score's database
  fonts-liberation ca-certificates
)

# What the tests and the demo need besides (./test, ./run demo).
PELICORDE_TEST_PACKAGES=(
  openssl
  dbus-daemon desktop-file-utils appstream dpkg-dev file lintian man-db   # notification tests, the .deb and its checks
  iproute2   # a private network for the preview's name look-ups
  xvfb xauth # a real X display for what the offscreen platform does not show
  gnome-keyring   # a keyring of the tests' own, on a private bus
)

# Programs the tests and the demo run without installing them: a mail server installed as a
# package would be enabled as a system service and listen on every interface. These packages
# are fetched into .cache/debs and unpacked into .cache/unpacked with dpkg -x (no maintainer
# script runs); only the shared libraries they depend on are installed as packages.
PELICORDE_UNPACKED_PACKAGES=(dovecot-core dovecot-pop3d dovecot-imapd)
PELICORDE_CACHE=$PWD/.cache   # the tests find the unpacked programs here

# Only for ./test fuzz and ./test asan: clang with its libFuzzer and sanitizer runtimes.
PELICORDE_SANITIZER_PACKAGES=(clang libclang-rt-dev)

say() { printf '\033[1m==> %s\033[0m\n' "$*"; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    env DEBIAN_FRONTEND=noninteractive "$@"
  elif command -v sudo >/dev/null; then
    sudo env DEBIAN_FRONTEND=noninteractive "$@"
  else
    echo "Pelicorde needs root for: $*" >&2
    echo "Run that as root, or install sudo, then run this again." >&2
    exit 1
  fi
}

# ensure_packages [PACKAGE...]: the program's packages and these, installed when missing.
ensure_packages() {
  local missing=() p
  for p in "${PELICORDE_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "Installing missing Debian packages: ${missing[*]}"
  as_root apt-get update -q
  as_root apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# The test packages, and the unpacked programs with the libraries they link.
ensure_test_packages() {
  local stamp="$PELICORDE_CACHE/unpacked/.packages" root="$PELICORDE_CACHE/unpacked" debs="$PELICORDE_CACHE/debs"
  if [ "$(cat "$stamp" 2>/dev/null)" != "${PELICORDE_UNPACKED_PACKAGES[*]}" ] || ! compgen -G "$debs/*.deb" >/dev/null; then
    say "Fetching without installing: ${PELICORDE_UNPACKED_PACKAGES[*]}"
    rm -rf "$debs" "$root"
    mkdir -p "$debs" "$root"
    # As root, apt's download sandbox user could not write into this folder.
    local apt=(apt-get -q)
    [ "$(id -u)" -eq 0 ] && apt+=(-o APT::Sandbox::User=root)
    if ! (cd "$debs" && "${apt[@]}" download "${PELICORDE_UNPACKED_PACKAGES[@]}"); then
      as_root apt-get update -q
      (cd "$debs" && "${apt[@]}" download "${PELICORDE_UNPACKED_PACKAGES[@]}")
    fi
    local deb
    for deb in "$debs"/*.deb; do dpkg-deb -x "$deb" "$root"; done
    printf '%s\n' "${PELICORDE_UNPACKED_PACKAGES[*]}" >"$stamp"
  fi
  # Their shared libraries: the lib* packages among their dependencies (the others serve the
  # maintainer scripts that are not run).
  local libs
  mapfile -t libs < <(for deb in "$debs"/*.deb; do dpkg-deb -f "$deb" Depends; done |
                      tr ',' '\n' | sed 's/[|(].*//; s/ //g' | grep -E '^(lib|zlib)' | sort -u)
  ensure_packages "${PELICORDE_TEST_PACKAGES[@]}" "${libs[@]}" "$@"
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
