# Helpers for scripts that run vesk11-sim in the background (sourced by scripts/demo and
# scripts/check-package). The caller sets a trap that calls sim_stop_all on EXIT.

SIM_PIDS=()
SIM_PATH=
SIM_OUT_DIR=

# sim_start BINARY [OPTION...]: starts a simulator and sets SIM_PATH to the pseudo-terminal path
# that it prints as its first line. Fails, showing what the simulator said, if no path comes
# within 10 s.
sim_start() {
    local binary=$1 out pid tries
    shift
    [[ -n $SIM_OUT_DIR ]] || SIM_OUT_DIR=$(mktemp -d "${TMPDIR:-/tmp}/vesk11-sim.XXXXXX")
    out="$SIM_OUT_DIR/sim-${#SIM_PIDS[@]}.out"
    : >"$out" # exists before the background job opens it
    "$binary" "$@" >"$out" 2>&1 </dev/null &
    pid=$!
    SIM_PIDS+=("$pid")
    for ((tries = 0; tries < 200; tries++)); do
        if [[ $(wc -l <"$out") -ge 1 ]]; then
            IFS= read -r SIM_PATH <"$out"
            [[ -e $SIM_PATH ]] && return 0
            break
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    echo "vesk11-sim $* did not start:" >&2
    cat "$out" >&2
    return 1
}

# sim_stop N: ends the N-th simulator started here (from 0), which writes its flash file, and
# waits for it; its output stays until sim_stop_all.
sim_stop() {
    local pid=${SIM_PIDS[$1]}
    [[ -n $pid ]] || return 0
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    SIM_PIDS[$1]=
}

# Ends every simulator started here (SIGTERM, then waits for each) and removes their output.
sim_stop_all() {
    local pid
    for pid in "${SIM_PIDS[@]}"; do
        [[ -z $pid ]] || kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "${SIM_PIDS[@]}"; do
        [[ -z $pid ]] || wait "$pid" 2>/dev/null || true
    done
    SIM_PIDS=()
    [[ -z $SIM_OUT_DIR ]] || rm -rf "$SIM_OUT_DIR"
    SIM_OUT_DIR=
}
