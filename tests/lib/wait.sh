# Sourced by the script tests: waiting for a condition rather than for a fixed time.
#
#   wait_for DESCRIPTION SECONDS COMMAND...
#                  runs COMMAND every 50 ms until it succeeds; after SECONDS it fails,
#                  saying on standard error what it waited for
wait_for() {
    local what=$1 seconds=$2
    shift 2
    local deadline=$((${EPOCHREALTIME/./} + seconds * 1000000))
    until "$@"; do
        if ((${EPOCHREALTIME/./} > deadline)); then
            echo "FAIL: waited $seconds s for $what" >&2
            return 1
        fi
        sleep 0.05
    done
}
