# Shared by the benchmark scripts: build folder, generated catalogues, the local service, clean-up.
# Source it after setting `root`; it parses [--runs N] [--scale S] [BUILD_DIR] into `runs`, `scale`
# and `build`.
runs=${runs:-5}
scale=""
build="$root/build"
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --scale) scale=$2; shift 2 ;;
    *) build=$1; shift ;;
  esac
done
build=$(cd "$build" && pwd)
work="$build/bench-data"
mkdir -p "$work"

# bench_catalogue_dir NAME APPS CATEGORIES: the folder of a generated catalogue, made once per
# generator version (its contents depend only on the arguments and the generator).
bench_catalogue_dir() {
  local name=$1 apps=$2 categories=$3
  local dir="$work/$name"
  local stamp
  stamp="$(sha1sum "$root/bench/make-catalogue" | cut -c1-16) $apps $categories"
  if [ "$(cat "$dir.stamp" 2>/dev/null)" != "$stamp" ]; then
    echo "generating the $name catalogue ($apps apps, $categories categories)..." >&2
    "$root/bench/make-catalogue" "$dir" --apps "$apps" --categories "$categories"
    echo "$stamp" > "$dir.stamp"
  fi
  echo "$dir"
}

bench_service_pids=()
# bench_start_service CATALOGUE_DIR [service options...]: starts the service, sets `service_url`.
bench_start_service() {
  local catalogue=$1; shift
  coproc SERVICE { exec "$root/service/quillbox-service" --catalogue "$catalogue" --quiet "$@"; }
  bench_service_pids+=("$SERVICE_PID")
  read -r -t 120 service_url <&"${SERVICE[0]}"
}

bench_stop_services() {
  local pid
  for pid in "${bench_service_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  bench_service_pids=()
}

# bench_keep_desktop: keeps the prefix's desktop up until bench_cleanup, as a Windows session has it
# (bench/desktop_session.cpp says why); needs the bench_session target built.
bench_session_pid=""
bench_keep_desktop() {
  local out="$work/session.out"
  rm -f "$out"
  "$root/scripts/wine-run" "$build" "$build/bench/bench_session.exe" >"$out" 2>/dev/null &
  bench_session_pid=$!
  for _ in $(seq 300); do
    grep -q ready "$out" 2>/dev/null && return 0
    sleep 0.2
  done
  echo "warning: the desktop could not be kept up; start-up figures include Wine's desktop start" >&2
}

# The DPI a --scale S stands for (2 is 192).
bench_scaled_dpi() { awk -v s="$scale" 'BEGIN { printf "%d\n", s * 96 + 0.5 }'; }

# bench_set_dpi DPI: the programs started next run at DPI: the prefix's LogPixels (each program reads
# it when it starts; 96 removes it) and a screen the window fits at that size (2400 x 1600 at 144,
# 2600 x 1800 above). The wineserver and the display are restarted for it.
bench_dpi_set=""
bench_set_dpi() {
  local dpi=$1
  [ -n "$bench_session_pid" ] && kill "$bench_session_pid" 2>/dev/null || true
  bench_session_pid=""
  "$root/scripts/wine-stop" "$build" >/dev/null 2>&1 || true
  if [ "$dpi" = 96 ]; then
    unset QB_SCREEN
    "$root/scripts/wine-run" "$build" reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1 || true
  else
    if [ "$dpi" -le 144 ]; then export QB_SCREEN=2400x1600x24; else export QB_SCREEN=2600x1800x24; fi
    "$root/scripts/wine-stop" "$build" >/dev/null 2>&1 || true
    "$root/scripts/wine-run" "$build" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
      >/dev/null 2>&1
    bench_dpi_set=1
  fi
  "$root/scripts/wine-stop" "$build" >/dev/null 2>&1 || true  # a display started for the registry call
}

bench_cleanup() {
  bench_stop_services
  [ -n "$bench_session_pid" ] && kill "$bench_session_pid" 2>/dev/null || true
  [ -n "$bench_dpi_set" ] && bench_set_dpi 96
  "$root/scripts/wine-stop" "$build" >/dev/null 2>&1 || true
}

# bench_package: the 1 GiB package ("MZ" and random bytes) that bench/download serves, made once.
bench_package() {
  local package="$work/catalogue/packages/1/bench-setup.exe" size=1073741824
  if [ ! -f "$package" ] || [ "$(stat -c %s "$package")" != "$size" ]; then
    echo "making a 1 GiB package..." >&2
    mkdir -p "$(dirname "$package")"
    { printf 'MZ'; head -c $((size - 2)) /dev/urandom; } > "$package"
    rm -f "$work/package.md5"
  fi
  echo "$package"
}

# Windows path of a folder under the build tree, for the bench programs.
bench_windows_path() { local p=$1; echo "Z:${p//\//\\}"; }
