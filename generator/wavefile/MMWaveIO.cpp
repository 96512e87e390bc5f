#include "generator/wavefile/MMWaveIO.h"

#include "generator/wavefile/RiffFile.h"
#include "generator/wavefile/WaveHeaderReader.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <vector>

using namespace riff;

namespace {

bool WriteHeader(TWaveIORecord& record) {
    HMMIO handle = record.Handle.Get();
    record.RiffChunk = MMCKINFO{};
    record.RiffChunk.fccType = kWave;
    if (mmioCreateChunk(handle, &record.RiffChunk, MMIO_CREATERIFF) != MMSYSERR_NOERROR) {
        return false;
    }
    const WAVEFORMATEX& format = *record.Format;
    const LONG fmtBytes = IsPcm(format) ? kPcmFmtBytes : kWaveFormatSize + format.cbSize;
    MMCKINFO fmt{};
    fmt.ckid = kFmt;
    fmt.cksize = static_cast<DWORD>(fmtBytes);
    if (mmioCreateChunk(handle, &fmt, 0) != MMSYSERR_NOERROR ||
        !WriteExactly(handle, &format, static_cast<size_t>(fmtBytes)) ||
        mmioAscend(handle, &fmt, 0) != MMSYSERR_NOERROR) {
        return false;
    }
    record.DataChunk = MMCKINFO{};
    record.DataChunk.ckid = kData;
    if (mmioCreateChunk(handle, &record.DataChunk, 0) != MMSYSERR_NOERROR) {
        return false;
    }
    // A created file is always finished on close, even without data.
    record.DataChunk.dwFlags |= MMIO_DIRTY;
    return true;
}

// Writes one chunk with the given body; its size field is set by the ascend.
bool WriteChunk(HMMIO handle, FOURCC id, const std::vector<uint8_t>& body, UINT flags,
                FOURCC type = 0) {
    MMCKINFO chunk{};
    chunk.ckid = id;
    chunk.fccType = type;
    return mmioCreateChunk(handle, &chunk, flags) == MMSYSERR_NOERROR &&
           WriteExactly(handle, body.data(), body.size()) &&
           mmioAscend(handle, &chunk, 0) == MMSYSERR_NOERROR;
}

std::vector<uint8_t> LittleEndian32(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

bool WriteTrailingChunks(TWaveIORecord& record) {
    HMMIO handle = record.Handle.Get();
    if (!IsPcm(*record.Format) &&
        !WriteChunk(handle, kFact, LittleEndian32(static_cast<uint32_t>(record.TotalSamples)), 0)) {
        return false;
    }
    for (const TMMDispChunk& disp : record.DispList) {
        if (IsWritableDisp(disp) && !WriteChunk(handle, kDisp, SerializeDispChunk(disp), 0)) {
            return false;
        }
    }
    return !record.InfoList.HasText() ||
           WriteChunk(handle, FOURCC_LIST, record.InfoList.Serialize(), MMIO_CREATELIST, kInfo);
}

// A rewritten file may have been longer before; what lies past the new RIFF form goes.
bool TruncateAfterRiff(TWaveIORecord& record) {
    HMMIO handle = record.Handle.Get();
    const LONG end = mmioSeek(handle, 0, SEEK_CUR);
    MMIOINFO info{};
    if (end < 0 || mmioFlush(handle, 0) != MMSYSERR_NOERROR ||
        mmioGetInfo(handle, &info, 0) != MMSYSERR_NOERROR) {
        return false;
    }
    HANDLE file = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(info.adwInfo[0]));
    return SetFilePointer(file, end, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
           SetEndOfFile(file) && mmioSeek(handle, end, SEEK_SET) == end;
}

// Puts the real sizes into the "data" and "RIFF" headers and appends the optional chunks.
int32_t FinishFile(TWaveIORecord& record) {
    HMMIO handle = record.Handle.Get();
    int32_t result = mmioFlush(handle, 0) == MMSYSERR_NOERROR ? wioOk : wioFileError;
    // The sizes are rewritten from what was written, wherever the last write left the file.
    record.DataChunk.cksize = 0;
    record.DataChunk.dwFlags |= MMIO_DIRTY;
    record.RiffChunk.cksize = 0;
    record.RiffChunk.dwFlags |= MMIO_DIRTY;
    const bool finished = mmioSeek(handle, record.DataOffset + record.DataBytes, SEEK_SET) >= 0 &&
                          mmioAscend(handle, &record.DataChunk, 0) == MMSYSERR_NOERROR &&
                          WriteTrailingChunks(record) &&
                          mmioAscend(handle, &record.RiffChunk, 0) == MMSYSERR_NOERROR &&
                          (record.Created || TruncateAfterRiff(record));
    if (!finished) {
        result = wioFileError;
    }
    record.DataChunk.dwFlags &= ~MMIO_DIRTY;
    // The end of the RIFF form is the end of the file now; a seek to the end would report the
    // size the file had when it was opened.
    const LONG size = mmioSeek(handle, 0, SEEK_CUR);
    record.FileSize = size < 0 ? 0 : size;
    record.LastSample = record.TotalSamples;
    return result;
}

} // namespace

int32_t ReadWaveHeader(const std::string& name, int32_t mode, TWaveIORecordPtr& record) {
    record.reset();
    if (mode != wmFile || name.empty()) {
        return wioBadArgument;
    }
    try {
        TMMIOHandle file(OpenMMIO(name, GENERIC_READ, OPEN_EXISTING, MMIO_READ));
        if (!file) {
            return wioFileError;
        }
        auto read = std::make_unique<TWaveIORecord>();
        const int32_t result = ReadWaveChunks(file.Get(), *read);
        if (result != wioOk) {
            return result;
        }
        read->OpenMode = mode;
        read->FileName = name;
        record = std::move(read);
        return wioOk;
    } catch (const std::bad_alloc&) {
        return wioOutOfMemory;
    }
}

int32_t CreateWaveIORecord(const WAVEFORMATEX* format, TWaveIORecordPtr& record) {
    record.reset();
    if (!format) {
        return wioBadArgument;
    }
    try {
        auto created = std::make_unique<TWaveIORecord>();
        created->Format = CopyWaveFormat(format);
        if (!created->Format || !IsUsableFormat(*created->Format)) {
            return wioBadArgument;
        }
        created->FormatBytes =
            IsPcm(*format) ? kWaveFormatSize : kWaveFormatSize + created->Format->cbSize;
        record = std::move(created);
        return wioOk;
    } catch (const std::bad_alloc&) {
        return wioOutOfMemory;
    }
}

int32_t CreateWaveFile(TWaveIORecord* record, const std::string& name) {
    if (!record || !record->Format || record->Handle || record->OpenMode != wmFile ||
        name.empty()) {
        return wioBadArgument;
    }
    HMMIO handle = OpenMMIO(name, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS, MMIO_READWRITE);
    if (!handle) {
        return wioFileError;
    }
    record->Handle.Reset(handle);
    if (!WriteHeader(*record)) {
        record->Handle.Reset();
        DeleteFileA(name.c_str());
        return wioFileError;
    }
    record->FileName = name;
    record->Created = true;
    record->DataOffset = static_cast<int32_t>(record->DataChunk.dwDataOffset);
    record->FileSize = 0;
    record->DataBytes = 0;
    record->TotalSamples = 0;
    record->FirstSample = 0;
    record->LastSample = 0;
    record->Position = 0;
    record->BytesLeft = 0;
    return wioOk;
}

int32_t ReopenWaveFile(TWaveIORecord* record) {
    if (!record || !record->Format || record->OpenMode != wmFile) {
        return wioBadArgument;
    }
    if (record->Handle) {
        return wioOk;
    }
    // Without a "data" chunk there is no place to read or write samples.
    if (record->DataOffset <= 0) {
        return wioFileError;
    }
    const char* name = record->FileName.c_str();
    const DWORD attributes = GetFileAttributesA(name);
    const bool readOnly =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    HMMIO handle =
        readOnly ? nullptr
                 : OpenMMIO(name, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, MMIO_READWRITE);
    if (!handle) {
        handle = OpenMMIO(name, GENERIC_READ, OPEN_EXISTING, MMIO_READ);
    }
    if (!handle) {
        return wioFileError;
    }
    record->Handle.Reset(handle);
    MMCKINFO riff{};
    if (mmioDescend(handle, &riff, nullptr, 0) != MMSYSERR_NOERROR || riff.ckid != FOURCC_RIFF ||
        riff.fccType != kWave) {
        record->Handle.Reset();
        return wioFileError;
    }
    record->RiffChunk = riff;
    record->DataChunk = MMCKINFO{};
    record->DataChunk.ckid = kData;
    record->DataChunk.cksize = static_cast<DWORD>(record->DataBytes);
    record->DataChunk.dwDataOffset = static_cast<DWORD>(record->DataOffset);
    record->Created = false;
    const int32_t result = SeekWaveData(record, record->Position);
    if (result != wioOk) {
        record->Handle.Reset();
    }
    return result;
}

int32_t SetWaveIOBuffer(TWaveIORecord* record, int32_t size) {
    if (!record) {
        return wioBadArgument;
    }
    if (record->OpenMode != wmFile) {
        return wioOk;
    }
    if (!record->Handle || size < 0) {
        return wioNoFormat;
    }
    return mmioSetBuffer(record->Handle.Get(), nullptr, size, 0) == MMSYSERR_NOERROR
               ? wioOk
               : wioOutOfMemory;
}

int32_t WriteWaveData(TWaveIORecord* record, const void* bytes, int32_t count) {
    if (!record || !record->Handle || !bytes || count <= 0) {
        return -1;
    }
    HMMIO handle = record->Handle.Get();
    // A buffered write to a read-only file would seem to succeed until the file is finished.
    const LONG start = Tell(handle, true);
    if (start < record->DataOffset) {
        return -1;
    }
    if (static_cast<int64_t>(start) + count > kMaxFileBytes) {
        return 0;
    }
    const LONG written = mmioWrite(handle, static_cast<const char*>(bytes), count);
    if (written == 0) {
        return 0;
    }
    record->DataChunk.dwFlags |= MMIO_DIRTY;
    const LONG end = Tell(handle);
    if (end >= record->DataOffset) {
        const WAVEFORMATEX& format = *record->Format;
        const int32_t b = end - record->DataOffset;
        record->Position = BytesToSamples(format, b);
        record->DataBytes = std::max(record->DataBytes, b);
        if (record->Position > record->TotalSamples) {
            record->TotalSamples = record->Position;
            record->LastSample = record->Position;
        }
        record->BytesLeft = SamplesToBytes(format, record->LastSample - record->Position);
    }
    return written;
}

int32_t ReadWaveData(TWaveIORecord* record, void* buffer, int32_t count) {
    if (!record || !record->Handle || !buffer || count < 0) {
        return -1;
    }
    const int32_t wanted = std::min(count, record->BytesLeft);
    if (wanted <= 0) {
        return 0;
    }
    HMMIO handle = record->Handle.Get();
    const LONG got = mmioRead(handle, static_cast<HPSTR>(buffer), wanted);
    if (got < 0) {
        record->BytesLeft = 0;
        return -1;
    }
    record->BytesLeft = got < wanted ? 0 : record->BytesLeft - got;
    const LONG at = Tell(handle);
    if (at >= record->DataOffset) {
        record->Position =
            BytesToSamples(*record->Format, at - record->DataOffset) - record->FirstSample;
    }
    return got;
}

int32_t SeekWaveData(TWaveIORecord* record, int32_t sample) {
    if (!record || !record->Format) {
        return wioBadArgument;
    }
    const WAVEFORMATEX& format = *record->Format;
    sample = std::max(0, std::min(sample, record->LastSample - record->FirstSample - 1));
    int32_t b = std::min(SamplesToBytes(format, record->FirstSample + sample), record->DataBytes);
    b -= b % format.nBlockAlign;
    if (record->Handle && mmioSeek(record->Handle.Get(), record->DataOffset + b, SEEK_SET) !=
                              record->DataOffset + b) {
        return wioFileError;
    }
    // Never past the data: a written file may end in a partial frame, then its pad byte.
    const int32_t end = std::min(SamplesToBytes(format, record->LastSample), record->DataBytes);
    record->BytesLeft = std::max(end - b, 0);
    record->Position = BytesToSamples(format, b) - record->FirstSample;
    return wioOk;
}

int32_t CloseWaveFile(TWaveIORecord* record) {
    if (!record) {
        return wioBadArgument;
    }
    if (!record->Handle) {
        return wioOk;
    }
    int32_t result = wioOk;
    if (record->DataChunk.dwFlags & MMIO_DIRTY) {
        result = FinishFile(*record);
    }
    if (record->Handle.Reset() != MMSYSERR_NOERROR) {
        result = wioFileError;
    }
    record->Position = 0;
    record->BytesLeft = 0;
    return result;
}

void FreeWaveIORecord(TWaveIORecordPtr& record) {
    record.reset();
}

bool IsValidWaveFile(const std::string& name) {
    TWaveIORecordPtr record;
    return ReadWaveHeader(name, wmFile, record) == wioOk;
}

std::string FormatDescription(const WAVEFORMATEX* format) {
    // The previous separators are the defaults of the next call, as the settings may vanish.
    static std::string listSeparator = ",";
    static std::string decimalSeparator = ".";
    char value[16];
    GetProfileStringA("Intl", "sList", listSeparator.c_str(), value, sizeof value);
    listSeparator = value;
    GetProfileStringA("Intl", "sDecimal", decimalSeparator.c_str(), value, sizeof value);
    decimalSeparator = value;
    if (!format) {
        return "Unknown";
    }
    const uint32_t rate = format->nSamplesPerSec;
    const uint32_t channels = format->nChannels;
    const uint32_t bits =
        rate == 0 || channels == 0
            ? 0
            : static_cast<uint32_t>(uint64_t(format->nAvgBytesPerSec) * 8 / rate / channels);
    const char* list = listSeparator.c_str();
    char text[160];
    if (channels == 1 || channels == 2) {
        std::snprintf(text, sizeof text, "%d%s%.03d kHz%s %d Bit%s %s", int(rate / 1000),
                      decimalSeparator.c_str(), int(rate % 1000), list, int(bits), list,
                      channels == 1 ? "Mono" : "Stereo");
    } else {
        std::snprintf(text, sizeof text, "%d%s%.03d kHz%s %d Bit%s %d Channels", int(rate / 1000),
                      decimalSeparator.c_str(), int(rate % 1000), list, int(bits), list,
                      int(channels));
    }
    return text;
}
