// The wave file object: one WAVE file held by name. It adopts an existing file when its name
// is set, creates a new file for a format, appends and reads sample data, reports format, sizes
// and position, finishes the file when it is closed, and tells its observers about every change.
//
// Writing (WriteData) may run on a device thread while the main thread leaves the object alone;
// the object takes no lock.
#pragma once

#include "generator/stream/MMErrors.h"
#include "generator/stream/PCM.h"
#include "generator/wavefile/MMWaveIO.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class EMMWaveError : public EMMError {
public:
    using EMMError::EMMError;
};

class TMMObject;

// Told about every change of the objects it watches.
class TMMObserver {
public:
    virtual void ObjectChanged(TMMObject* Sender) = 0;

protected:
    ~TMMObserver() = default;
};

// A persistent object with a change notification.
class TMMObject {
public:
    virtual ~TMMObject() = default;

    std::function<void(TMMObject* Sender)> OnChange;

protected:
    virtual void Changed();
};

enum TMMTimeFormats { tfMillisecond, tfByte, tfSample };

// A stretch of the data in reading order.
struct TMMWaveRegion {
    int32_t FirstSample;
    int32_t FirstByte;
    int32_t SampleCount;
    int32_t ByteCount;
};

class TMMWave : public TMMObject {
public:
    static const int32_t kDefaultIOBufferSize = 32768;
    static const int32_t kMinIOBufferSize = 8192;

    TMMWave();
    // Finishes an open file.
    ~TMMWave() override;
    TMMWave(const TMMWave&) = delete;
    TMMWave& operator=(const TMMWave&) = delete;

    const std::string& FileName() const { return fileName_; }
    virtual void SetFileName(const std::string& value);
    bool FileMustExist() const { return fileMustExist_; }
    void SetFileMustExist(bool value) { fileMustExist_ = value; }
    TMMTimeFormats TimeFormat() const { return timeFormat_; }
    void SetTimeFormat(TMMTimeFormats value);
    int32_t IOBufferSize() const { return ioBufferSize_; }
    void SetIOBufferSize(int32_t value);

    int BitLength() const;
    TMMMode Mode() const;
    int FormatTag() const;
    std::string FormatString() const;
    uint32_t SampleRate() const;
    int32_t FileSize() const;
    int32_t DataSize() const;
    virtual const WAVEFORMATEX* WaveFormat() const;

    // The position in TimeFormat units; -1 without a file.
    int32_t Position() const;
    virtual void SetPosition(int32_t value);
    bool IsEmpty() const { return DataSize() == 0; }
    bool Opened() const { return opened_; }
    // The attached record, nil without a file; its lists hold the file's INFO and DISP chunks.
    TWaveIORecord* IORecord() const { return record_.get(); }

    void CreateNewFile(const std::string& name, const WAVEFORMATEX* format);
    // Bytes written, 0 or -1 as WriteWaveData; -1 when no file is attached.
    int32_t WriteData(const void* bytes, int32_t count);
    virtual int32_t ReadData(void* buffer, int32_t count);
    int32_t ReadWaveBlock(void* buffer, int32_t count);
    virtual void OpenFile();
    virtual void CloseFile();
    void Clear();

    virtual int32_t SamplesToBytes(int32_t samples) const;
    virtual int32_t BytesToSamples(int32_t bytes) const;
    virtual int32_t SamplesToTime(int32_t samples) const;
    virtual int32_t TimeToSamples(int32_t value) const;
    virtual void PrepareStart(int flag);
    virtual void ResetHook();

    void AddObserver(TMMObserver* observer);
    void RemoveObserver(TMMObserver* observer);

protected:
    void Changed() override;

private:
    void Attach(TWaveIORecordPtr record, const std::string& name);
    void ApplyIOBuffer();
    void RebuildRegions();
    int32_t RegionSamples() const;
    int32_t RegionBytes() const;
    void SeekRegion(int32_t sample);

    std::string fileName_;
    bool fileMustExist_ = true;
    TMMTimeFormats timeFormat_ = tfSample;
    int32_t ioBufferSize_ = kDefaultIOBufferSize;
    TWaveIORecordPtr record_;
    int32_t firstSample_ = 0;
    int32_t lastSample_ = 0;
    int32_t position_ = 0;
    int32_t bytesLeft_ = 0;
    bool opened_ = false;
    std::vector<TMMWaveRegion> regions_;
    std::vector<TMMObserver*> observers_;
};
