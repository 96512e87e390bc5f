# Sourced by scripts/bench: recording through the wave file object against a plain WriteFile
# loop of the same 8192-byte blocks, both under Wine in the same run; the headline is our
# throughput over the plain loop's.

sw_build_win bench_wavefile >/dev/null
"$SW_ROOT/scripts/lib/wine-exec" "$SW_BUILD/win/bench/wavefile/bench_wavefile.exe" | tr -d '\r'
