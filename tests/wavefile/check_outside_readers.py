#!/usr/bin/env python3
"""Reads every WAVE file the Windows test wrote with two outside readers, Python's wave module
and sox, and checks format, frame count and sample bytes against the manifest the test left:
    name rate channels bits frames [ID=text ...]
Texts given as ID=text must appear in the file's LIST/INFO chunk."""
import os
import struct
import subprocess
import sys
import wave


def info_entries(path):
    data = open(path, 'rb').read()
    entries, pos = {}, 12
    while pos + 8 <= len(data):
        cid, size = struct.unpack('<4sI', data[pos:pos + 8])
        if cid == b'LIST' and data[pos + 8:pos + 12] == b'INFO':
            sub, end = pos + 12, pos + 8 + size
            while sub + 8 <= end:
                sid, ssize = struct.unpack('<4sI', data[sub:sub + 8])
                entries[sid.decode('ascii')] = data[sub + 8:sub + 8 + ssize].rstrip(b'\0').decode('latin-1')
                sub += 8 + ssize + (ssize & 1)
        pos += 8 + size + (size & 1)
    return entries


def soxi(path, flag):
    return subprocess.run(['soxi', flag, path], check=True, capture_output=True, text=True).stdout.strip()


def check(folder, line):
    fields = line.split()
    name, rate, channels, bits, frames = fields[0], *map(int, fields[1:5])
    texts = dict(f.split('=', 1) for f in fields[5:])
    path = os.path.join(folder, name + '.wav')
    expected = open(os.path.join(folder, name + '.raw'), 'rb').read()
    problems = []

    with wave.open(path, 'rb') as w:
        got = (w.getframerate(), w.getnchannels(), w.getsampwidth() * 8, w.getnframes())
        if got != (rate, channels, bits, frames):
            problems.append(f'wave module sees {got}')
        if w.readframes(frames) != expected:
            problems.append('wave module reads other samples')

    got = tuple(int(soxi(path, flag)) for flag in ('-r', '-c', '-b', '-s'))
    if got != (rate, channels, bits, frames):
        problems.append(f'soxi sees {got}')
    raw = subprocess.run(['sox', path, '-t', 'raw', '-'], check=True, capture_output=True).stdout
    if raw != expected:
        problems.append(f'sox reads other samples ({len(raw)} bytes, expected {len(expected)})')

    found = info_entries(path)
    for key, text in texts.items():
        if found.get(key) != text.replace('_', ' '):
            problems.append(f'INFO {key} is {found.get(key)!r}')
    return problems


def main():
    folder = sys.argv[1]
    lines = [l for l in open(os.path.join(folder, 'manifest.txt')).read().splitlines() if l.strip()]
    failed = 0
    for line in lines:
        problems = check(folder, line)
        print(('FAIL ' if problems else 'ok   ') + line.split()[0] + ''.join('\n     ' + p for p in problems))
        failed += bool(problems)
    print(f'{len(lines) - failed} passed, {failed} failed')
    return 1 if failed or not lines else 0


if __name__ == '__main__':
    sys.exit(main())
