# Shared set-up for the build, the demo and the tests. Source it; do not run it.
# Every step says what failed and stops the script.

CARVELUND_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$CARVELUND_ROOT/build}"

export WINEPREFIX="${CARVELUND_WINEPREFIX:-$BUILD_DIR/wineprefix}"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko installer prompts.
export WINEDLLOVERRIDES="mscoree=d;mshtml=d"

fail() { echo "ERROR: $*" >&2; exit 1; }
step() { echo "==> $*"; }

REQUIRED_PACKAGES=(
  cmake make
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  googletest
  wine wine64
  xvfb xauth x11-utils xdotool imagemagick fonts-liberation
  locales
)

install_packages() {
  local missing=() p
  for p in "${REQUIRED_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]} == 0)); then
    step "all packages present"
    return
  fi
  step "installing: ${missing[*]}"
  [ "$(id -u)" = 0 ] || fail "installing packages needs root (missing: ${missing[*]})"
  apt-get update -qq || fail "apt-get update failed"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null ||
    fail "apt-get install failed for: ${missing[*]}"
}

build_all() {
  step "configuring in $BUILD_DIR"
  cmake -S "$CARVELUND_ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$CARVELUND_ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null ||
    fail "cmake configure failed"
  step "building"
  cmake --build "$BUILD_DIR" -j "$(nproc)" -- --no-print-directory >"$BUILD_DIR/build.log" 2>&1 ||
    { tail -n 40 "$BUILD_DIR/build.log" >&2; fail "build failed (full log: $BUILD_DIR/build.log)"; }
}

# One test runs under a double-byte code page: Wine takes it from the locale, and needs
# the locale present to name files in it.
ensure_locale() {
  locale -a 2>/dev/null | grep -qix 'ja_JP.utf8' && return
  step "generating the locale ja_JP.UTF-8"
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 >/dev/null 2>&1 || fail "could not generate the locale ja_JP.UTF-8"
}

XVFB_PID=""
start_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    step "using display $DISPLAY"
    return
  fi
  local n
  for n in $(seq 91 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 100); do
      xdpyinfo >/dev/null 2>&1 && { step "started Xvfb on $DISPLAY"; return; }
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    kill "$XVFB_PID" 2>/dev/null; XVFB_PID=""
  done
  fail "could not start Xvfb"
}

start_wine() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    step "creating the Wine prefix $WINEPREFIX (first use only)"
    wineboot -i >/dev/null 2>&1 || fail "wineboot could not create $WINEPREFIX"
    wineserver -w
  fi
  # One persistent server keeps each program start cheap.
  wineserver -p 2>/dev/null || true  # already running is fine
  # Start Wine's own services now, detached from the callers' output.
  local try
  for try in 1 2 3; do
    wine cmd /c exit >/dev/null 2>&1 </dev/null && break
    [ "$try" = 3 ] && fail "Wine cannot run programs in $WINEPREFIX"
    wineserver -w 2>/dev/null; wineserver -p 2>/dev/null || true
  done
  # No window manager runs on the private display: with managed windows Wine waits two
  # seconds for one at every hide and destroy. Unmanaged windows need none.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null ||
    fail "could not set up Wine's display driver"
}

# A 4 MB disk for the test of a destination that fills up part-way through a copy. Only
# root can mount it; without it that test skips.
SMALL_DISK=""
mount_small_disk() {
  local disk="$BUILD_DIR/tests/shell/small-disk"
  mkdir -p "$disk"
  if mountpoint -q "$disk" || mount -t tmpfs -o size=4m tmpfs "$disk" 2>/dev/null; then
    SMALL_DISK="$disk"
    step "small disk mounted at $disk"
  else
    step "no small disk (mount refused): the full-disk test will skip"
  fi
}

stop_all() {
  if [ -n "$SMALL_DISK" ]; then umount "$SMALL_DISK" 2>/dev/null || true; SMALL_DISK=""; fi
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
  fi
}

# Everything a run needs, undone again when the calling script exits.
prepare_run() {
  trap stop_all EXIT
  install_packages
  ensure_locale
  build_all
  start_display
  start_wine
}

# slowfs (scripts/tools/slowfs.c): a folder served as a share across a network, for the
# benchmarks. Installs FUSE 3 and builds it once; sets SLOWFS to the program.
build_slowfs() {
  local missing=() p
  for p in fuse3 libfuse3-dev pkg-config gcc; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    step "installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null || fail "cannot install ${missing[*]}"
  fi
  local source="$CARVELUND_ROOT/scripts/tools/slowfs.c"
  SLOWFS="$BUILD_DIR/tools/slowfs"
  mkdir -p "$BUILD_DIR/tools"
  if [ ! -x "$SLOWFS" ] || [ "$source" -nt "$SLOWFS" ]; then
    # shellcheck disable=SC2046
    gcc -O2 -o "$SLOWFS" "$source" $(pkg-config --cflags --libs fuse3) -lpthread || fail "cannot build slowfs"
  fi
}
