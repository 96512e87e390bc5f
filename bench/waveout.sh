# Sourced by scripts/bench: time the output device's done handler spends per played buffer
# (push to a 16384-point peak detector, refill from a generator, hand back to the driver) on
# the real driver, in thread and window mode. The headline compares the worst handler time
# with the measured period between returned buffers, the handler's real-time budget.

sw_build_win bench_waveout >/dev/null
waveout_out=$("$SW_ROOT/scripts/lib/wine-exec" "$SW_BUILD/win/bench/waveout/bench_waveout.exe" |
    tr -d '\r')
echo "$waveout_out"
echo "$waveout_out" | awk '
    /^waveout_thread_handler_worst:/ { worst = $2 }
    /^waveout_thread_buffer_period:/ { period = $2 }
    END {
        if (period > 0) {
            printf "waveout: %.4f of a buffer period (worst done handler, thread mode)\n",
                worst / 1000 / period
        } else {
            print "waveout: no buffers returned"
        }
    }'
