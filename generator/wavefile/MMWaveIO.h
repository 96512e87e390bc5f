// The RIFF WAVE file layer under the wave file object: reads the header of an existing file,
// creates a new one for a format, appends and reads sample data, and writes the final chunk
// sizes when the file is finished. Works through the buffered multimedia file functions and
// never throws; every operation answers with one of the result codes below.
//
// Layout written for PCM (little-endian):
//   "RIFF" <file size - 8> "WAVE"
//   "fmt " 16 <tag, channels, rate, bytes/s, block align, bits>
//   "data" <data bytes> samples [zero pad byte when the count is odd]
//   ["DISP" chunks] ["LIST" <size> "INFO" entries]
// Other formats get an "fmt " chunk of 18 + cbSize bytes and a 4-byte "fact" chunk after "data".
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include "generator/stream/PCM.h"
#include "generator/wavefile/MMRIFF.h"

#include <cstdint>
#include <memory>
#include <string>

enum TWaveIOResult : int32_t {
    wioOk = 0,
    wioReadError = 3,
    wioOutOfMemory = 4,
    wioNoFormat = 101,
    wioBadArgument = 104,
    wioFileError = 106,
};

// How the file is reached. Only files by name are supported; the other modes exist in the
// record layout of stored objects and are refused with wioBadArgument.
enum TWaveIOMode : int32_t { wmFile = 1, wmResource = 2, wmMemory = 4 };

// Owns an open multimedia file handle and closes it (without finishing any chunk).
class TMMIOHandle {
public:
    TMMIOHandle() = default;
    explicit TMMIOHandle(HMMIO handle) : handle_(handle) {}
    ~TMMIOHandle() { Reset(); }
    TMMIOHandle(const TMMIOHandle&) = delete;
    TMMIOHandle& operator=(const TMMIOHandle&) = delete;

    HMMIO Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    // Closes the handle; returns the close result (0, or an error when the last flush failed).
    MMRESULT Reset(HMMIO handle = nullptr) {
        MMRESULT result = MMSYSERR_NOERROR;
        if (handle_) {
            result = mmioClose(handle_, 0);
        }
        handle_ = handle;
        return result;
    }

private:
    HMMIO handle_ = nullptr;
};

// One per open wave file. Sample counts are frames; positions are relative to FirstSample.
struct TWaveIORecord {
    int32_t OpenMode = wmFile;
    TMMIOHandle Handle;
    MMCKINFO RiffChunk{};
    // Its MMIO_DIRTY flag says the file was written to since it was opened.
    MMCKINFO DataChunk{};
    int32_t FileSize = 0;
    int32_t DataBytes = 0;
    int32_t DataOffset = 0;
    int32_t TotalSamples = 0;
    int32_t FirstSample = 0;
    int32_t LastSample = 0;
    int32_t BytesLeft = 0;
    int32_t Position = 0;
    std::string FileName;
    TMMDispList DispList;
    TMMInfoList InfoList;
    // The format as stored in the file's "fmt " chunk, never smaller than a whole WAVEFORMATEX;
    // FormatBytes is the size of that storage.
    TWaveFormatPtr Format;
    int32_t FormatBytes = 0;
    // Set when this handle created the file; a reopened file has its sizes rewritten on close.
    bool Created = false;
};

using TWaveIORecordPtr = std::unique_ptr<TWaveIORecord>;

// Reads the header of a WAVE file into a new record; the file is closed again on return.
int32_t ReadWaveHeader(const std::string& name, int32_t mode, TWaveIORecordPtr& record);
// A new record for the format, with empty INFO and display lists.
int32_t CreateWaveIORecord(const WAVEFORMATEX* format, TWaveIORecordPtr& record);
// Creates the file (replacing any file of that name) and writes its header. On failure no
// file is left behind.
int32_t CreateWaveFile(TWaveIORecord* record, const std::string& name);
// Opens the record's file again and positions it at the record's position. A record whose
// file is open already stays as it is.
int32_t ReopenWaveFile(TWaveIORecord* record);
int32_t SetWaveIOBuffer(TWaveIORecord* record, int32_t size);
// Bytes written; 0 when nothing could be written (also when the file would outgrow what the
// 32-bit sizes can describe); -1 without an open file, for a count below 1, or on error.
int32_t WriteWaveData(TWaveIORecord* record, const void* bytes, int32_t count);
// Bytes read, 0 at the end of the data, -1 without an open file or on error.
int32_t ReadWaveData(TWaveIORecord* record, void* buffer, int32_t count);
// Positions at a sample frame (clamped into the data); without an open file only the record's
// position is computed.
int32_t SeekWaveData(TWaveIORecord* record, int32_t sample);
// Writes the final sizes and the optional chunks when the file was written to, then closes it.
// The handle is closed even when finishing fails.
int32_t CloseWaveFile(TWaveIORecord* record);
// Closes the handle if open and frees the record.
void FreeWaveIORecord(TWaveIORecordPtr& record);
bool IsValidWaveFile(const std::string& name);

// "44.100 kHz, 16 Bit, Stereo" with the user's decimal and list separators; "Unknown" for nil.
std::string FormatDescription(const WAVEFORMATEX* format);
