// Records what the test program plays on the sound server: runs capture_playback.sh (a Unix
// program, which Wine starts directly) and analyses the raw 16-bit stereo 44100 Hz recording.
#pragma once

#include <string>

// Other programs may play on the same server meanwhile, so a tone is measured by itself: the
// stretch of the recording (left channel) where it is strongest, its exact frequency there,
// and the RMS level of the spectral lines around it.
struct TCaptureAnalysis {
    long frames = 0;        // frames recorded
    double toneHz = 0.0;    // frequency of the strongest line near the expected tone
    double toneDb = -200.0; // RMS level of that tone in dB full scale
};

class TSoundCapture {
public:
    // Starts recording for `seconds` from the sink that `program`'s stream plays to.
    TSoundCapture(const std::string& program, double seconds);
    ~TSoundCapture();
    TSoundCapture(const TSoundCapture&) = delete;
    TSoundCapture& operator=(const TSoundCapture&) = delete;

    bool Started() const { return started_; }
    bool Done() const;
    std::string Sink() const;
    // Looks for a tone within 10 % of `expectedHz`.
    TCaptureAnalysis Analyse(double expectedHz) const;

private:
    std::string unixPath_;
    bool started_ = false;
};
