#!/bin/sh
# Records what a Windows program under Wine plays. Finds the sink that the program's stream
# goes to (the default sink when no stream of the program can be found), records that sink's
# monitor as raw 16-bit stereo 44100 Hz for SECONDS, and renames the file when done so the
# program can wait for it.
# usage: capture_playback.sh PROGRAM_NAME SECONDS OUTFILE
program=$1
seconds=$2
out=$3

sink_index=$(pactl list sink-inputs 2>/dev/null | awk -v program="$program" '
    /^Sink Input #/ { sink = "" }
    /^[ \t]*Sink: / { sink = $2 }
    index($0, program) && sink != "" { print sink; exit }')
sink=""
if [ -n "$sink_index" ]; then
    sink=$(pactl list short sinks | awk -v i="$sink_index" '$1 == i { print $2 }')
fi
[ -n "$sink" ] || sink=$(pactl get-default-sink)

# Counting bytes rather than time: parec sometimes needs a second or two to connect.
bytes=$(awk -v s="$seconds" 'BEGIN { printf "%d", s * 44100 * 4 }')
timeout 20 parec -d "$sink.monitor" --raw --format=s16le --rate=44100 --channels=2 \
    --latency-msec=20 2>/dev/null | head -c "$bytes" >"$out.part"
echo "$sink" >"$out.sink"
mv "$out.part" "$out"
