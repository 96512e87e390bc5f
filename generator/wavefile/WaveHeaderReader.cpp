#include "generator/wavefile/WaveHeaderReader.h"

#include "generator/wavefile/RiffFile.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

using namespace riff;

namespace {

// Walks the chunks of a WAVE file once and collects what the record needs.
class THeaderReader {
public:
    THeaderReader(HMMIO handle, TWaveIORecord& record) : handle_(handle), record_(record) {}

    int32_t Read() {
        MMCKINFO riff{};
        if (mmioDescend(handle_, &riff, nullptr, 0) != MMSYSERR_NOERROR ||
            riff.ckid != FOURCC_RIFF || riff.fccType != kWave) {
            return wioFileError;
        }
        fileSize_ = mmioSeek(handle_, 0, SEEK_END);
        if (fileSize_ < 0 || mmioSeek(handle_, riff.dwDataOffset + 4, SEEK_SET) < 0) {
            return wioFileError;
        }
        // A writer that never finished its file left the RIFF size at 0: its chunks, and an
        // unsized "data" chunk, run to the end of the file.
        unfinished_ = riff.cksize == 0;
        const int64_t claimed = static_cast<int64_t>(riff.dwDataOffset) + riff.cksize;
        riffEnd_ = unfinished_ ? fileSize_ : std::min<int64_t>(claimed, fileSize_);
        record_.RiffChunk = riff;
        const int32_t walked = WalkChunks(riff);
        if (walked != wioOk) {
            return walked;
        }
        if (!record_.Format) {
            return wioNoFormat;
        }
        return Finish();
    }

private:
    int32_t WalkChunks(const MMCKINFO& riff) {
        MMCKINFO parent = riff;
        parent.cksize = static_cast<DWORD>(riffEnd_ - riff.dwDataOffset);
        for (;;) {
            MMCKINFO chunk{};
            if (mmioDescend(handle_, &chunk, &parent, 0) != MMSYSERR_NOERROR) {
                return wioOk;
            }
            const int64_t end = static_cast<int64_t>(chunk.dwDataOffset) + chunk.cksize;
            if (end > riffEnd_ && record_.Format && sawData_) {
                return wioOk;
            }
            if (end > fileSize_) {
                chunk.cksize = static_cast<DWORD>(fileSize_ - chunk.dwDataOffset);
            }
            bool stop = false;
            const int32_t result = TakeChunk(chunk, stop);
            if (result != wioOk || stop) {
                return result;
            }
            if (mmioAscend(handle_, &chunk, 0) != MMSYSERR_NOERROR) {
                return sawData_ ? wioOk : wioFileError;
            }
        }
    }

    int32_t TakeChunk(MMCKINFO& chunk, bool& stop) {
        switch (chunk.ckid) {
        case kFmt:
            stop = record_.Format != nullptr;
            return stop ? wioOk : TakeFormat(chunk);
        case kData:
            stop = sawData_;
            if (!stop) {
                sawData_ = true;
                record_.DataOffset = static_cast<int32_t>(chunk.dwDataOffset);
                if (unfinished_ && chunk.cksize == 0) {
                    chunk.cksize = static_cast<DWORD>(fileSize_ - chunk.dwDataOffset);
                }
                // Already cut to the file: neither a pad byte, nor a following (perhaps torn)
                // chunk, nor bytes after the RIFF form count as samples.
                dataBytes_ = chunk.cksize;
            }
            return wioOk;
        case kFact:
            // Its sample count is recomputed from the data; only a repeat matters.
            stop = sawFact_;
            sawFact_ = true;
            return wioOk;
        case FOURCC_LIST:
            if (chunk.fccType == kInfo && chunk.cksize > 4) {
                std::vector<uint8_t> body(chunk.cksize - 4);
                if (!ReadExactly(handle_, body.data(), static_cast<DWORD>(body.size()))) {
                    return wioReadError;
                }
                record_.InfoList.Parse(body.data(), body.size());
            }
            return wioOk;
        case kDisp: {
            std::vector<uint8_t> body(chunk.cksize);
            if (!ReadExactly(handle_, body.data(), chunk.cksize)) {
                return wioReadError;
            }
            TMMDispChunk disp;
            if (ParseDispChunk(body.data(), body.size(), disp)) {
                record_.DispList.push_back(std::move(disp));
            }
            return wioOk;
        }
        default:
            return wioOk;
        }
    }

    int32_t TakeFormat(const MMCKINFO& chunk) {
        const DWORD stored = std::min(chunk.cksize, kMaxFmtBytes);
        const size_t bytes = std::max<size_t>(stored, sizeof(WAVEFORMATEX));
        void* block = std::calloc(1, bytes);
        if (!block) {
            return wioOutOfMemory;
        }
        record_.Format.reset(static_cast<WAVEFORMATEX*>(block));
        record_.FormatBytes = static_cast<int32_t>(bytes);
        if (!ReadExactly(handle_, block, stored)) {
            return wioReadError;
        }
        // Whoever copies the format trusts cbSize: it must not claim more than was stored.
        WAVEFORMATEX& format = *record_.Format;
        if (stored < static_cast<DWORD>(kWaveFormatSize)) {
            format.cbSize = 0;
        } else if (static_cast<DWORD>(kWaveFormatSize + format.cbSize) > stored) {
            format.cbSize = static_cast<WORD>(stored - kWaveFormatSize);
        }
        return wioOk;
    }

    int32_t Finish() {
        WAVEFORMATEX& format = *record_.Format;
        if (IsPcm(format)) {
            // Writers get these wrong often enough; PCM defines them. Samples of odd widths
            // sit in whole bytes.
            const uint32_t align = format.nChannels * ((format.wBitsPerSample + 7u) / 8u);
            const uint64_t rate = static_cast<uint64_t>(align) * format.nSamplesPerSec;
            if (align > 0xFFFF || rate > 0x7FFFFFFF) {
                return wioNoFormat;
            }
            format.nBlockAlign = static_cast<WORD>(align);
            format.nAvgBytesPerSec = static_cast<DWORD>(rate);
        }
        if (!IsUsableFormat(format)) {
            return wioNoFormat;
        }
        const int64_t dataBytes = dataBytes_ - dataBytes_ % format.nBlockAlign;
        // Sample counts are 32-bit too; a format with more samples than bytes could overflow.
        if (dataBytes * format.nSamplesPerSec / format.nAvgBytesPerSec > 0x7FFFFFFF) {
            return wioNoFormat;
        }
        record_.FileSize = fileSize_;
        record_.DataBytes = static_cast<int32_t>(dataBytes);
        record_.TotalSamples = BytesToSamples(format, record_.DataBytes);
        record_.FirstSample = 0;
        record_.LastSample = record_.TotalSamples;
        record_.Position = 0;
        record_.BytesLeft = record_.DataBytes;
        return wioOk;
    }

    HMMIO handle_;
    TWaveIORecord& record_;
    LONG fileSize_ = 0;
    int64_t riffEnd_ = 0;
    bool unfinished_ = false;
    bool sawData_ = false;
    bool sawFact_ = false;
    DWORD dataBytes_ = 0;
};

} // namespace

int32_t ReadWaveChunks(HMMIO handle, TWaveIORecord& record) {
    return THeaderReader(handle, record).Read();
}
