# Sourced by scripts/bench: the three-generator chain (carrier, AM, FM) against SoX's single
# sine, both producing 60 s of 44100 Hz 16-bit stereo; the headline is our speed over SoX's.

# Best wall time of three runs of the reference, in seconds.
synth_sox_seconds() {
    local run t0 t1
    for run in 1 2 3; do
        t0=$(date +%s.%N)
        sox -n -r 44100 -b 16 -c 2 -t null - synth 60 sine 100
        t1=$(date +%s.%N)
        echo "$t0 $t1"
    done | awk 'NR == 1 || $2 - $1 < best { best = $2 - $1 } END { printf "%.4f", best }'
}

sw_build_win bench_synth >/dev/null
synth_out=$("$SW_ROOT/scripts/lib/wine-exec" "$SW_BUILD/win/bench/synth/bench_synth.exe" |
    tr -d '\r')
echo "$synth_out"
synth_ours=$(echo "$synth_out" | awk '/^synth_chain_speed:/ { print $2 }')
synth_sox_time=$(synth_sox_seconds)
awk -v ours="$synth_ours" -v t="$synth_sox_time" 'BEGIN {
    printf "sox_sine_time: %.4f s\n", t
    printf "sox_sine_speed: %.1f x realtime\n", 60 / t
    printf "synth: %.2f x sox (three-generator chain vs single sine)\n", ours / (60 / t)
}'
