# Shared set-up of the scripts: Debian packages, the build directory, the build itself.
# Sourced, not run.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

# Everything the program, the simulators and the tests need, from Debian's archive only.
CONV_PACKAGES=(
  cmake make g++ pkg-config python3
  qt6-base-dev libgl-dev
  libgtest-dev libgmock-dev googletest
  libmodbus-dev nlohmann-json3-dev
  clang libclang-rt-14-dev libbenchmark-dev
  g++-mingw-w64-x86-64 wine64
  xvfb xauth libxcb1-dev
  dpkg-dev lintian systemd desktop-file-utils
)

conv_install_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Configures and builds the whole project (program, simulators, tests) into $BUILD.
conv_build() {
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$BUILD" -j"$JOBS"
}
