# Shared by fuzz/run and fuzz/explore (sourced, from the repository root).

# The target names of fuzz/targets, or those given (each must be listed there).
fuzz_targets() {
  local all name
  all=$(awk '!/^#/ && NF { print $1 }' fuzz/targets)
  if (($# == 0)); then
    echo "$all"
    return
  fi
  for name; do
    if ! grep -qx -- "$name" <<<"$all"; then
      echo "unknown fuzz target '$name' (fuzz/targets lists: $(echo $all))" >&2
      return 1
    fi
    echo "$name"
  done
}

# The gate's run count of a target.
fuzz_gate_runs() {
  awk -v t="$1" '!/^#/ && $1 == t { print $2 }' fuzz/targets
}

# fuzz_build BUILD SANITIZERS [NO_SANITIZE]: configures BUILD with clang and builds every target
# with the given -fsanitize= (and -fno-sanitize=) lists; libFuzzer's coverage always.
fuzz_build() {
  local targets=()
  local t
  for t in $(fuzz_targets); do targets+=("${t}_fuzz"); done
  if ! command -v clang++ >/dev/null; then
    echo "fuzzing needs clang++ (tools/setup installs it)" >&2
    return 1
  fi
  CC=clang CXX=clang++ cmake -S . -B "$1" -DKDR_FUZZ=ON -DKDR_FUZZ_SANITIZERS="$2" \
    -DKDR_FUZZ_NO_SANITIZE="${3:-}" \
    -DKDR_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$1" -j"${KDR_JOBS:-2}" --target "${targets[@]}" >/dev/null
}

# The options every fuzzing run shares. A crash-free input longer than 64 KiB adds nothing the
# targets' parsers do not see in shorter ones, and keeps each run fast.
fuzz_common_options=(-max_len=65536 -timeout=10 -rss_limit_mb=2048)

# Leaks are findings too; a finding stops the run at once.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
