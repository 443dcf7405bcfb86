# The benchmarks' common start, sourced from the project's root with RUNS and
# BUILD_DIR set: bench_prepare NAME [TOOL ...] installs the peers' builders,
# checks the tools, builds the setup, packtool and the demo payload, and sets
# BUILD_DIR (absolute), packtool, work ($BUILD_DIR/NAME) and the Wine prefix
# ($BUILD_DIR/wine/NAME, stopped when the script ends); run-timed.exe is
# built into $work.
bench_prepare() {
  local name=$1 tool
  shift
  scripts/install-deps.sh --bench >/dev/null
  for tool in "$@" wine cmake openssl x86_64-w64-mingw32-gcc Xvfb; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/install-deps.sh --bench" >&2; exit 1; }
  done
  [[ "$RUNS" =~ ^[1-9][0-9]*$ ]] || { echo "RUNS must be a positive number" >&2; exit 2; }

  [ -f "$BUILD_DIR/CMakeCache.txt" ] || cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
  BUILD_DIR="$(cd "$BUILD_DIR" && pwd)"
  echo "building installer.exe, packtool and the demo payload in $BUILD_DIR ..."
  cmake --build "$BUILD_DIR" -j2 --target installer packtool_host demo_setup >/dev/null
  packtool="$BUILD_DIR/packtool-host/packtool"

  work="$BUILD_DIR/$name"
  # Wine's menu builder, which Wine starts for each shortcut saved to mirror
  # it on the Unix desktop, is turned off for all: Windows starts nothing there.
  export WINEPREFIX="$BUILD_DIR/wine/$name" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
  trap 'scripts/wine-prefix.sh stop "$WINEPREFIX" >/dev/null 2>&1 || true' EXIT
  mkdir -p "$work"
  rm -f "$work/wine.err"
  x86_64-w64-mingw32-gcc -O2 -municode -o "$work/run-timed.exe" scripts/bench/run-timed.c
}
