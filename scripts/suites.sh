# Sourced by scripts/test and scripts/stress: configures and builds one preset's test suites.
# Only the test programs and what they run are built, not the benchmarks. ThreadSanitizer
# runs only the suites whose tests start threads of their own (the others give it nothing
# to look at).

threaded_suites=(core e2e foundations inference kit network platform postprocessing provisioning road sdk)

# build_suites PRESET JOBS: configures and builds PRESET into build/PRESET, then sets
# `suite_labels` to the ctest arguments that select its suites (empty: every suite).
build_suites() {
  local preset=$1 jobs=$2 suites kept suite
  echo "=== ${preset}: configure and build ===" >&2
  cmake --preset "$preset" >/dev/null
  # Every suite is a target "test_<label>" (tests/<label>); each names what it runs as a dependency.
  mapfile -t suites < <(ninja -C "build/${preset}" -t targets all \
    | sed -n 's/^test_\([a-z0-9_]*\): phony$/\1/p' | sort -u)
  suite_labels=()
  if [ "$preset" = tsan ]; then
    kept=()
    for suite in "${suites[@]}"; do
      [[ " ${threaded_suites[*]} " == *" ${suite} "* ]] && kept+=("$suite")
    done
    suites=("${kept[@]}")
    suite_labels=(-L "^($(IFS='|'; echo "${suites[*]}"))\$")
  fi
  cmake --build --preset "$preset" -j "$jobs" --target "${suites[@]/#/test_}"
}
