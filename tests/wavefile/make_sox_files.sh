#!/usr/bin/env bash
# Writes the WAVE files an outside writer (sox) makes, for the Windows test to read, and empties
# the folder the Windows test writes its own files into for the outside readers.
# Each file comes with the raw sample bytes sox itself reads from it and a manifest line:
#   name rate channels bits frames
set -euo pipefail
exchange=$1
out=$exchange/sox
rm -rf "$out" "$exchange/ours"
mkdir -p "$out" "$exchange/ours"

make_wave() { # name rate channels bits frames
    sox -R -D -r "$2" -c "$3" -n -b "$4" "$out/$1.wav" synth "$5s" sine 440 vol 0.7
    sox "$out/$1.wav" -t raw "$out/$1.raw"
    echo "$1 $2 $3 $4 $5" >>"$out/manifest.txt"
}

make_wave mono8_odd 8000 1 8 1001
make_wave stereo8 11025 2 8 2048
make_wave mono16 22050 1 16 777
make_wave stereo16 44100 2 16 44100
make_wave mono8_three 8000 1 8 3

# sox writes no INFO list; add one (odd-length text, padded) between "fmt " and "data", as other
# writers do, and a DISP text after the data.
python3 - "$out/stereo16.wav" "$out/info16.wav" <<'PY'
import struct, sys
src, dst = sys.argv[1], sys.argv[2]
data = open(src, 'rb').read()
assert data[:4] == b'RIFF' and data[8:12] == b'WAVE'
chunks, pos = [], 12
while pos + 8 <= len(data):
    cid, size = struct.unpack('<4sI', data[pos:pos + 8])
    chunks.append((cid, data[pos + 8:pos + 8 + size]))
    pos += 8 + size + (size & 1)

def chunk(cid, body):
    return struct.pack('<4sI', cid, len(body)) + body + (b'\0' if len(body) & 1 else b'')

def entry(cid, text):
    return chunk(cid, text.encode('ascii') + b'\0')

info = chunk(b'LIST', b'INFO' + entry(b'INAM', 'Outside tone') + entry(b'IART', 'sox'))
body = b''
for cid, payload in chunks:
    if cid == b'data':
        body += info
    body += chunk(cid, payload)
body += chunk(b'DISP', struct.pack('<I', 1) + b'shown\0')
open(dst, 'wb').write(b'RIFF' + struct.pack('<I', 4 + len(body)) + b'WAVE' + body)
PY
cp "$out/stereo16.raw" "$out/info16.raw"
echo "info16 44100 2 16 44100" >>"$out/manifest.txt"
