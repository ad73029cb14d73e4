# Sourced by the commands in scripts/: the repository root as the working directory, the build job
# count, the log directory, and the build and count helpers they share.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=$(nproc 2>/dev/null || echo 2)
logs=$root/build-logs
toolchain=$root/cmake/mingw-w64.cmake

# build_tree <tree> [cmake options...] [-- build options...]: configures and builds one build tree.
build_tree() {
  local tree=$1 options=()
  shift
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    options+=("$1")
    shift
  done
  [ $# -gt 0 ] && shift
  cmake -S "$root" -B "$tree" --no-warn-unused-cli "${options[@]}" && cmake --build "$tree" -j "$jobs" "$@"
}

# build_both: the native tree build and the Windows tree build-win, quietly.
build_both() {
  build_tree build >/dev/null && build_tree build-win -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
}

# firmware_image <tree>: the firmware image the tree's build embeds.
firmware_image() { sed -n 's/^FACUP_FIRMWARE_IMAGE_FILE:INTERNAL=//p' "$1/CMakeCache.txt"; }

# count_ctest <log>: adds the counts of the log's last ctest summary to passed and failed, and sets
# ctest_summary (the summary line) and ctest_fails. False when the log has no summary.
count_ctest() {
  local total
  ctest_summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
  [ -n "$ctest_summary" ] || return 1
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$ctest_summary")
  ctest_fails=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$ctest_summary")
  passed=$((passed + total - ctest_fails))
  failed=$((failed + ctest_fails))
}
