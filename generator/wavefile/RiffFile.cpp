#include "generator/wavefile/RiffFile.h"

namespace riff {

bool IsUsableFormat(const WAVEFORMATEX& format) {
    return format.nBlockAlign > 0 && format.nSamplesPerSec > 0 && format.nAvgBytesPerSec > 0 &&
           format.nSamplesPerSec <= 0x7FFFFFFF && format.nAvgBytesPerSec <= 0x7FFFFFFF;
}

// mmioOpen by name goes through OpenFile, which refuses paths of 128 characters and more, so
// the file is opened here and its handle handed over; mmioClose closes it.
HMMIO OpenMMIO(const std::string& name, DWORD access, DWORD disposition, DWORD mmioFlags) {
    // Others may read a file while we write it; we read files others are still writing.
    const DWORD share =
        access == GENERIC_READ ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
    HANDLE file = CreateFileA(name.c_str(), access, share, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    MMIOINFO info{};
    info.fccIOProc = FOURCC_DOS;
    info.adwInfo[0] = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(file));
    HMMIO handle = mmioOpenA(nullptr, &info, mmioFlags | MMIO_ALLOCBUF);
    if (!handle) {
        CloseHandle(file);
    }
    return handle;
}

// mmioSeek(SEEK_CUR) would flush the buffer whenever the offset lies past the size the file
// had when it was opened, that is after every append; the buffer state tells the offset free.
LONG Tell(HMMIO handle, bool mustBeWritable) {
    MMIOINFO info{};
    if (mmioGetInfo(handle, &info, 0) != MMSYSERR_NOERROR ||
        (mustBeWritable && (info.dwFlags & MMIO_RWMODE) == MMIO_READ)) {
        return -1;
    }
    return info.pchBuffer ? info.lBufOffset + LONG(info.pchNext - info.pchBuffer)
                          : info.lDiskOffset;
}

bool ReadExactly(HMMIO handle, void* buffer, DWORD size) {
    return size == 0 || mmioRead(handle, static_cast<HPSTR>(buffer), static_cast<LONG>(size)) ==
                            static_cast<LONG>(size);
}

bool WriteExactly(HMMIO handle, const void* bytes, size_t size) {
    return size == 0 || mmioWrite(handle, static_cast<const char*>(bytes),
                                  static_cast<LONG>(size)) == static_cast<LONG>(size);
}

} // namespace riff
