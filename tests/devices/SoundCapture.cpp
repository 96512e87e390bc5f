#include "tests/devices/SoundCapture.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

const double kPi = 3.14159265358979323846;
const size_t kWindow = 16384;
const double kRate = 44100.0;

std::string Environment(const char* name, const std::string& fallback) {
    char value[1024];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    return length > 0 && length < sizeof(value) ? std::string(value, length) : fallback;
}

// Wine shows the Unix root as drive Z:.
std::string WindowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

void Fft(std::vector<std::complex<double>>& data) {
    const size_t n = data.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(data[i], data[j]);
        }
    }
    for (size_t length = 2; length <= n; length <<= 1) {
        const std::complex<double> step = std::polar(1.0, -2.0 * kPi / length);
        for (size_t start = 0; start < n; start += length) {
            std::complex<double> w = 1.0;
            for (size_t k = 0; k < length / 2; ++k) {
                const std::complex<double> a = data[start + k];
                const std::complex<double> b = data[start + k + length / 2] * w;
                data[start + k] = a + b;
                data[start + k + length / 2] = a - b;
                w *= step;
            }
        }
    }
}

struct TTone {
    double hz;
    double rms;
};

// The strongest spectral line between `lowHz` and `highHz` in one Hann-windowed stretch, with
// its power summed over the neighbouring bins the window spreads it into.
TTone MeasureTone(const double* samples, double lowHz, double highHz) {
    std::vector<std::complex<double>> data(kWindow);
    double windowPower = 0.0;
    for (size_t i = 0; i < kWindow; ++i) {
        const double hann = 0.5 - 0.5 * std::cos(2.0 * kPi * i / (kWindow - 1));
        data[i] = samples[i] * hann;
        windowPower += hann * hann;
    }
    Fft(data);
    const size_t low = static_cast<size_t>(lowHz * kWindow / kRate);
    const size_t high = static_cast<size_t>(highHz * kWindow / kRate);
    size_t best = low;
    for (size_t i = low; i <= high; ++i) {
        if (std::abs(data[i]) > std::abs(data[best])) {
            best = i;
        }
    }
    const double a = std::abs(data[best - 1]);
    const double b = std::abs(data[best]);
    const double c = std::abs(data[best + 1]);
    const double denominator = a - 2.0 * b + c;
    const double offset = denominator != 0.0 ? 0.5 * (a - c) / denominator : 0.0;
    double power = 0.0;
    for (size_t i = best - 4; i <= best + 4; ++i) {
        power += std::norm(data[i]);
    }
    // Two-sided spectrum, normalised by the window's power.
    const double meanSquare = 2.0 * power / (kWindow * windowPower);
    return TTone{(best + offset) * kRate / kWindow, std::sqrt(meanSquare)};
}

} // namespace

TSoundCapture::TSoundCapture(const std::string& program, double seconds) {
    static int serial = 0;
    const std::string folder = Environment("SW_BINARY_DIR", "/tmp");
    const std::string script =
        Environment("SW_SOURCE_DIR", "/work/main") + "/tests/devices/capture_playback.sh";
    unixPath_ = folder + "/devices-capture-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++serial) + ".raw";
    DeleteFileA(WindowsPath(unixPath_).c_str());
    std::string command = "/bin/sh \"" + script + "\" \"" + program + "\" " +
                          std::to_string(seconds) + " \"" + unixPath_ + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    started_ = CreateProcessA("Z:\\bin\\sh", &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &process) != FALSE;
    if (started_) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

TSoundCapture::~TSoundCapture() {
    DeleteFileA(WindowsPath(unixPath_).c_str());
    DeleteFileA(WindowsPath(unixPath_ + ".sink").c_str());
}

bool TSoundCapture::Done() const {
    return GetFileAttributesA(WindowsPath(unixPath_).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string TSoundCapture::Sink() const {
    std::ifstream file(WindowsPath(unixPath_ + ".sink"));
    std::string sink;
    std::getline(file, sink);
    return sink;
}

TCaptureAnalysis TSoundCapture::Analyse(double expectedHz) const {
    std::ifstream file(WindowsPath(unixPath_), std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    TCaptureAnalysis result;
    result.frames = static_cast<long>(bytes.size() / 4);
    std::vector<double> left(result.frames);
    for (long i = 0; i < result.frames; ++i) {
        int16_t sample;
        std::copy_n(&bytes[i * 4], 2, reinterpret_cast<char*>(&sample));
        left[i] = sample / 32768.0;
    }
    if (left.size() < kWindow) {
        return result;
    }
    TTone strongest{0.0, 0.0};
    for (size_t start = 0; start + kWindow <= left.size(); start += kWindow / 2) {
        const TTone tone = MeasureTone(&left[start], expectedHz * 0.9, expectedHz * 1.1);
        if (tone.rms > strongest.rms) {
            strongest = tone;
        }
    }
    result.toneHz = strongest.hz;
    result.toneDb = strongest.rms > 0.0 ? 20.0 * std::log10(strongest.rms) : -200.0;
    return result;
}
