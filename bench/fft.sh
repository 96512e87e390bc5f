# Sourced by scripts/bench: RealFFT against FFTW for n = 16384 in a native release build, then
# the detector's cost per output buffer in the Windows build under Wine. The headline is our
# transform time over FFTW_ESTIMATE's.

fft_host=$SW_BUILD/bench-fft-host
if [ ! -f "$fft_host/build.ninja" ]; then
    cmake -S "$SW_ROOT" -B "$fft_host" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSW_SANITIZE=OFF \
        >/dev/null
fi
cmake --build "$fft_host" -j "$(sw_jobs)" --target bench_fft >/dev/null
fft_out=$("$fft_host/bench/fft/bench_fft")
echo "$fft_out"

sw_build_win bench_peak >/dev/null
"$SW_ROOT/scripts/lib/wine-exec" "$SW_BUILD/win/bench/fft/bench_peak.exe" | tr -d '\r'

echo "$fft_out" | awk '/^realfft_vs_fftw_estimate:/ {
    printf "fft: %s x FFTW_ESTIMATE time (RealFFT n=16384, lower is better)\n", $2 }'
