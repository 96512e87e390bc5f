// The wave buffer record every component of the chain exchanges: the Windows WAVEHDR, so that
// the very block can be handed to waveOut/waveIn, followed by our extension fields and then
// the sample data.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <cstddef>
#include <cstdint>

struct TMMBufferRecord {
    WAVEHDR Header;
    DWORD reserved2;
    // Copy of dwBytesRecorded kept across waveOutWrite: some drivers rewrite the header.
    DWORD dwSavedBytes;
    // Set by the output device to the buffer queued after this one, just before it passes a
    // played buffer downstream.
    TMMBufferRecord* lpNextQueued;
    int32_t dwLooping;     // -1 when the requesting output device loops its source
    int32_t dwLoopCount;   // loops requested (0 = endless) when looping
    int32_t dwLoopsLeft;   // loops still to go; a looping source decrements it on rewind
    int32_t dwLoopRestart; // -1 when the source rewound while filling this buffer
};

// Events and chain operations receive a pointer to the header; it is always the start of a
// TMMBufferRecord.
using PWaveHdr = WAVEHDR*;

inline TMMBufferRecord* BufferRecordOf(PWaveHdr header) {
    return reinterpret_cast<TMMBufferRecord*>(header);
}

inline size_t BufferRecordBytes(uint32_t dataBytes) {
    return sizeof(TMMBufferRecord) + dataBytes;
}

// (Re)initialises a record before use: data right after the header, capacity = bufferSize.
inline void InitBufferRecord(TMMBufferRecord* record, uint32_t bufferSize) {
    record->Header.lpData = reinterpret_cast<LPSTR>(record + 1);
    record->Header.dwBufferLength = bufferSize;
    record->Header.dwBytesRecorded = 0;
    record->Header.dwUser = 0;
    record->Header.dwFlags = 0;
    record->Header.dwLoops = 0;
    record->Header.lpNext = nullptr;
}

static_assert(offsetof(TMMBufferRecord, Header) == 0, "a record must start with its WAVEHDR");
static_assert(sizeof(WAVEHDR) == 32, "i686 WAVEHDR layout");
static_assert(sizeof(TMMBufferRecord) == 60, "header size the pool requests are built from");
