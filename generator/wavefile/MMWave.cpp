#include "generator/wavefile/MMWave.h"

#include <windows.h>

#include <mmsystem.h>
#include <winnetwk.h>

#include <algorithm>
#include <cstring>

namespace {

const char* const kErrorReading = "Error reading wave file";
const char* const kInvalidWave = "Invalid wave file...";
const char* const kIOBufferError = "Unable to setup file IO buffer";
const char* const kOpenError = "Unable to open wave file";
const char* const kCreateError = "Unable to create wave file";
const char* const kSeekError = "Error seeking file position";

const uint32_t kRateWithoutFormat = 11025;

struct TFormatName {
    WORD Tag;
    const char* Name;
};

// Where a tag is listed twice the first entry names it.
const TFormatName kFormatNames[] = {
    {0x0000, "Unknown"},
    {0x0001, "PCM"},
    {0x020C, "PCM 32"},
    {0x0002, "Microsoft ADPCM"},
    {0x0003, "Mediavision's ADPCM"},
    {0x0005, "IBM CVSD"},
    {0x0006, "CCITT A-Law"},
    {0x0007, "CCITT mu-Law"},
    {0x0010, "OKI ADPCM"},
    {0x0011, "IMA ADPCM"},
    {0x0011, "DVI ADPCM"},
    {0x0012, "Mediaspace's ADPCM"},
    {0x0013, "Sierra's ADPCM"},
    {0x0014, "CCITT G.723 ADPCM"},
    {0x0015, "Digisound DIGISTD"},
    {0x0016, "Digisound DIGIFIX"},
    {0x0017, "Dialogic OKI ADPCM"},
    {0x0020, "Yamaha ADPCM"},
    {0x0021, "Sonarc"},
    {0x0022, "DSP Group's Truespeech"},
    {0x0023, "Echo SC1"},
    {0x0024, "Audiofile AF36"},
    {0x0025, "Audio Processing Technology"},
    {0x0026, "Audiofile AF10"},
    {0x0030, "Dolby AC2"},
    {0x0209, "Dolby AC2"},
    {0x0031, "GSM 6.10"},
    {0x0033, "Antex ADPCME"},
    {0x0039, "CS IMA ADPCM"},
    {0x0040, "CCITT G.721 ADPCM"},
    {0x0050, "MPEG 1"},
    {0x0055, "MPEG Layer-3"},
    {0x0200, "Creative's ADPCM"},
    {0x1001, "Olivetti's ADPCM"},
    {0x0204, "CDI-C"},
    {0x0205, "CDI-B"},
    {0x0206, "Antex-DVI-OKI ADPCME"},
    {0xFFFF, "*DEVELOPMENT ONLY TAG*"},
};

// A path on a mapped network drive is kept as its network path, which stays valid for other
// sessions and programs.
std::string UniversalName(const std::string& path) {
    if (path.size() < 3 || path[1] != ':') {
        return path;
    }
    if (GetDriveTypeA(path.substr(0, 3).c_str()) != DRIVE_REMOTE) {
        return path;
    }
    std::vector<char> buffer(1024);
    DWORD size = static_cast<DWORD>(buffer.size());
    if (WNetGetUniversalNameA(path.c_str(), UNIVERSAL_NAME_INFO_LEVEL, buffer.data(), &size) !=
        NO_ERROR) {
        return path;
    }
    return reinterpret_cast<UNIVERSAL_NAME_INFOA*>(buffer.data())->lpUniversalName;
}

std::string ExpandFileName(const std::string& name) {
    if (name.empty()) {
        return name;
    }
    const DWORD needed = GetFullPathNameA(name.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return name;
    }
    std::vector<char> full(needed);
    const DWORD length = GetFullPathNameA(name.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return name;
    }
    return UniversalName(std::string(full.data(), length));
}

bool FileExists(const std::string& name) {
    const DWORD attributes = GetFileAttributesA(name.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// 0 for a file that is not there.
int64_t DiskFileSize(const std::string& name) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return static_cast<int64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

} // namespace

void TMMObject::Changed() {
    if (OnChange) {
        OnChange(this);
    }
}

TMMWave::TMMWave() = default;

TMMWave::~TMMWave() {
    Clear();
}

void TMMWave::SetFileName(const std::string& value) {
    const std::string name = ExpandFileName(value);
    if (name == fileName_ && DiskFileSize(name) == FileSize()) {
        return;
    }
    if (name.empty()) {
        if (!fileName_.empty() || record_) {
            Clear();
            Changed();
        }
        return;
    }
    const bool exists = FileExists(name);
    if (exists) {
        TWaveIORecordPtr record;
        if (ReadWaveHeader(name, wmFile, record) == wioOk) {
            Clear();
            Attach(std::move(record), name);
            Changed();
            return;
        }
    } else if (!fileMustExist_) {
        Clear();
        fileName_ = name;
        Changed();
        return;
    }
    const bool previousValid = !fileName_.empty() && IsValidWaveFile(fileName_);
    throw EMMWaveError(exists && !previousValid ? kInvalidWave : kErrorReading);
}

void TMMWave::SetTimeFormat(TMMTimeFormats value) {
    timeFormat_ = value;
    RebuildRegions();
}

void TMMWave::SetIOBufferSize(int32_t value) {
    if (value == ioBufferSize_) {
        return;
    }
    ioBufferSize_ = std::max(value, kMinIOBufferSize);
    if (opened_) {
        ApplyIOBuffer();
    }
}

const WAVEFORMATEX* TMMWave::WaveFormat() const {
    return record_ ? record_->Format.get() : nullptr;
}

int TMMWave::BitLength() const {
    const WAVEFORMATEX* format = WaveFormat();
    return format ? format->wBitsPerSample : 0;
}

TMMMode TMMWave::Mode() const {
    const WAVEFORMATEX* format = WaveFormat();
    const int channels = format ? format->nChannels : 1;
    return channels == 2 ? mStereo : (channels > 2 ? mMultiChannel : mMono);
}

int TMMWave::FormatTag() const {
    const WAVEFORMATEX* format = WaveFormat();
    return format ? format->wFormatTag : 0;
}

std::string TMMWave::FormatString() const {
    const WAVEFORMATEX* format = WaveFormat();
    if (format) {
        for (const TFormatName& entry : kFormatNames) {
            if (entry.Tag == format->wFormatTag) {
                return entry.Name;
            }
        }
    }
    return "Unknown";
}

uint32_t TMMWave::SampleRate() const {
    const WAVEFORMATEX* format = WaveFormat();
    return format ? format->nSamplesPerSec : kRateWithoutFormat;
}

int32_t TMMWave::FileSize() const {
    return record_ ? record_->FileSize : 0;
}

int32_t TMMWave::DataSize() const {
    return record_ ? SamplesToTime(record_->TotalSamples) : 0;
}

int32_t TMMWave::Position() const {
    return record_ ? SamplesToTime(position_) : -1;
}

void TMMWave::SetPosition(int32_t value) {
    position_ = TimeToSamples(value);
    if (!opened_) {
        return;
    }
    position_ = std::max(0, std::min(position_, RegionSamples()));
    bytesLeft_ = std::max(RegionBytes() - SamplesToBytes(position_), 0);
    SeekRegion(position_);
}

void TMMWave::SeekRegion(int32_t sample) {
    int32_t start = 0;
    for (const TMMWaveRegion& region : regions_) {
        if (sample <= start + region.SampleCount) {
            const int32_t target = region.FirstSample - firstSample_ + (sample - start);
            // A second try gets past a transient failure of the file system.
            if (SeekWaveData(record_.get(), target) != wioOk &&
                SeekWaveData(record_.get(), target) != wioOk) {
                throw EMMWaveError(kSeekError);
            }
            return;
        }
        start += region.SampleCount;
    }
    throw EMMWaveError(kSeekError);
}

void TMMWave::CreateNewFile(const std::string& name, const WAVEFORMATEX* format) {
    const std::string path = ExpandFileName(name);
    // The file being replaced may be ours and still open.
    CloseFile();
    if (!path.empty() && FileExists(path)) {
        DeleteFileA(path.c_str());
    }
    TWaveIORecordPtr record;
    if (path.empty() || CreateWaveIORecord(format, record) != wioOk ||
        CreateWaveFile(record.get(), path) != wioOk) {
        FreeWaveIORecord(record);
        throw EMMWaveError(kCreateError);
    }
    Clear();
    Attach(std::move(record), path);
    opened_ = true;
    if (SetWaveIOBuffer(record_.get(), ioBufferSize_) != wioOk) {
        record_->Handle.Reset();
        DeleteFileA(path.c_str());
        Clear();
        Changed();
        throw EMMWaveError(kIOBufferError);
    }
    Changed();
}

int32_t TMMWave::WriteData(const void* bytes, int32_t count) {
    if (!record_) {
        return -1;
    }
    const int32_t written = WriteWaveData(record_.get(), bytes, count);
    lastSample_ = record_->LastSample;
    RebuildRegions();
    return written;
}

int32_t TMMWave::ReadData(void* buffer, int32_t count) {
    return record_ ? ReadWaveData(record_.get(), buffer, count) : -1;
}

int32_t TMMWave::ReadWaveBlock(void* buffer, int32_t count) {
    if (!record_ || bytesLeft_ <= 0 || !buffer || count <= 0) {
        return -1;
    }
    const int32_t wanted = std::min(count, bytesLeft_);
    char* out = static_cast<char*>(buffer);
    int32_t read = 0;
    while (read < wanted) {
        const int32_t got = ReadData(out + read, wanted - read);
        if (got <= 0) {
            break;
        }
        read += got;
    }
    if (read == 0) {
        // Callers that want a non-empty buffer get a short silence; never more than they have.
        const int32_t marker = std::min(count, 4);
        std::memset(buffer, 0, static_cast<size_t>(marker));
        bytesLeft_ = 0;
        position_ = RegionSamples();
        return marker;
    }
    // A short read means the data ended before the header said.
    bytesLeft_ = read < wanted ? 0 : bytesLeft_ - read;
    position_ = std::min(BytesToSamples(RegionBytes() - bytesLeft_), RegionSamples());
    return read;
}

void TMMWave::OpenFile() {
    // Opening again would move the write position of a file being recorded back to its start.
    if (!record_ || opened_) {
        return;
    }
    if (ReopenWaveFile(record_.get()) != wioOk) {
        throw EMMWaveError(kOpenError);
    }
    ApplyIOBuffer();
    RebuildRegions();
    PrepareStart(0);
    opened_ = true;
    SetPosition(Position());
}

void TMMWave::CloseFile() {
    if (record_) {
        CloseWaveFile(record_.get());
        lastSample_ = record_->LastSample;
        RebuildRegions();
    }
    opened_ = false;
    position_ = 0;
    bytesLeft_ = 0;
}

void TMMWave::Clear() {
    sndPlaySoundA(nullptr, 0);
    CloseFile();
    fileName_.clear();
    FreeWaveIORecord(record_);
    regions_.clear();
    firstSample_ = 0;
    lastSample_ = 0;
    position_ = 0;
    bytesLeft_ = 0;
}

int32_t TMMWave::SamplesToBytes(int32_t samples) const {
    const WAVEFORMATEX* format = WaveFormat();
    return format ? ::SamplesToBytes(*format, samples) : 0;
}

int32_t TMMWave::BytesToSamples(int32_t bytes) const {
    const WAVEFORMATEX* format = WaveFormat();
    return format ? ::BytesToSamples(*format, bytes) : 0;
}

int32_t TMMWave::SamplesToTime(int32_t samples) const {
    const WAVEFORMATEX* format = WaveFormat();
    if (!format || timeFormat_ == tfSample) {
        return samples;
    }
    return timeFormat_ == tfMillisecond ? SamplesToMs(*format, samples)
                                        : ::SamplesToBytes(*format, samples);
}

int32_t TMMWave::TimeToSamples(int32_t value) const {
    const WAVEFORMATEX* format = WaveFormat();
    if (!format || timeFormat_ == tfSample) {
        return value;
    }
    return timeFormat_ == tfMillisecond ? MsToSamples(*format, value)
                                        : ::BytesToSamples(*format, value);
}

void TMMWave::PrepareStart(int) {}

void TMMWave::ResetHook() {}

void TMMWave::AddObserver(TMMObserver* observer) {
    if (observer && std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) {
        observers_.push_back(observer);
    }
}

void TMMWave::RemoveObserver(TMMObserver* observer) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void TMMWave::Changed() {
    TMMObject::Changed();
    // An observer may detach itself while it is told.
    const std::vector<TMMObserver*> observers = observers_;
    for (TMMObserver* observer : observers) {
        observer->ObjectChanged(this);
    }
}

void TMMWave::Attach(TWaveIORecordPtr record, const std::string& name) {
    record_ = std::move(record);
    firstSample_ = record_->FirstSample;
    lastSample_ = record_->LastSample;
    position_ = record_->Position;
    bytesLeft_ = record_->BytesLeft;
    fileName_ = name;
    RebuildRegions();
}

void TMMWave::ApplyIOBuffer() {
    if (SetWaveIOBuffer(record_.get(), ioBufferSize_) != wioOk) {
        throw EMMWaveError(kIOBufferError);
    }
}

void TMMWave::RebuildRegions() {
    regions_.clear();
    if (!record_) {
        return;
    }
    const int32_t count = std::max(lastSample_ - firstSample_, 0);
    regions_.push_back({firstSample_, SamplesToBytes(firstSample_), count, SamplesToBytes(count)});
}

int32_t TMMWave::RegionSamples() const {
    int32_t total = 0;
    for (const TMMWaveRegion& region : regions_) {
        total += region.SampleCount;
    }
    return total;
}

int32_t TMMWave::RegionBytes() const {
    int32_t total = 0;
    for (const TMMWaveRegion& region : regions_) {
        total += region.ByteCount;
    }
    return total;
}
