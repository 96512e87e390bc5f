// Buffered multimedia file access shared by the wave file layer: the chunk codes, the limits
// every size is checked against, and opening, positioning and exact reads and writes.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include "generator/stream/PCM.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace riff {

const FOURCC kWave = mmioFOURCC('W', 'A', 'V', 'E');
const FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
const FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');
const FOURCC kFact = mmioFOURCC('f', 'a', 'c', 't');
const FOURCC kInfo = mmioFOURCC('I', 'N', 'F', 'O');
const FOURCC kDisp = mmioFOURCC('D', 'I', 'S', 'P');

const LONG kPcmFmtBytes = 16;
// What a WAVEFORMATEX can describe: the record and at most 65535 extra bytes.
const DWORD kMaxFmtBytes = kWaveFormatSize + 0xFFFF;
// Every size and offset of a wave I/O record is a signed 32-bit value; leave room for the
// chunks written after the data when the file is finished.
const int64_t kMaxFileBytes = 0x7FFFFFFF - (1 << 20);

inline bool IsPcm(const WAVEFORMATEX& format) {
    return format.wFormatTag == WAVE_FORMAT_PCM;
}

// Conversions divide by these; a format without them cannot address its data.
bool IsUsableFormat(const WAVEFORMATEX& format);

// Opens (or creates, with CREATE_ALWAYS) a file for buffered multimedia I/O; nil on failure.
HMMIO OpenMMIO(const std::string& name, DWORD access, DWORD disposition, DWORD mmioFlags);

// The current file offset, -1 on failure (or, when asked for a writable file, for one opened
// only for reading).
LONG Tell(HMMIO handle, bool mustBeWritable = false);

bool ReadExactly(HMMIO handle, void* buffer, DWORD size);
bool WriteExactly(HMMIO handle, const void* bytes, size_t size);

} // namespace riff
