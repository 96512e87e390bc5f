// Files both ways with an outside program: what sox wrote must read right here, and what we
// write is left, with its expected samples, for the native check that runs Python's wave
// module and sox on it (check_outside_readers.py, run by CTest after this program).
#include "generator/wavefile/MMWave.h"
#include "generator/wavefile/MMWaveIO.h"

#include "tests/wavefile/WaveTestFiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

namespace {

const TFourCC kName = MakeFourCC('I', 'N', 'A', 'M');
const TFourCC kArtist = MakeFourCC('I', 'A', 'R', 'T');

std::string Exchange(const std::string& side) {
    return BuildTreeFolder("wavefile-exchange\\" + side);
}

TBytes ReadSamples(TWaveIORecord* record) {
    EXPECT_EQ(ReopenWaveFile(record), wioOk);
    TBytes all(record->DataBytes);
    int32_t total = 0;
    for (int32_t n;
         total < record->DataBytes && (n = ReadWaveData(record, all.data() + total, 4096)) > 0;) {
        total += n;
    }
    all.resize(total);
    EXPECT_EQ(CloseWaveFile(record), wioOk);
    return all;
}

// Leaves a written file's expected samples and its manifest line for the outside readers.
class TManifest {
public:
    TManifest() : out_(Exchange("ours") + "\\manifest.txt", std::ios::trunc) {}
    void Add(const std::string& name, const WAVEFORMATEX& format, const TBytes& data,
             const std::map<std::string, std::string>& texts = {}) {
        WriteFileBytes(Exchange("ours") + "\\" + name + ".raw", data);
        out_ << name << ' ' << format.nSamplesPerSec << ' ' << format.nChannels << ' '
             << format.wBitsPerSample << ' ' << data.size() / format.nBlockAlign;
        for (const auto& text : texts) {
            std::string value = text.second;
            for (char& c : value) {
                c = c == ' ' ? '_' : c;
            }
            out_ << ' ' << text.first << '=' << value;
        }
        out_ << '\n';
    }

private:
    std::ofstream out_;
};

} // namespace

TEST(OutsideReaders, FilesWrittenBySoxReadRight) {
    std::ifstream manifest(Exchange("sox") + "\\manifest.txt");
    ASSERT_TRUE(manifest) << "the wavefile_sox_files test writes these files";
    int files = 0;
    for (std::string line; std::getline(manifest, line);) {
        std::istringstream fields(line);
        std::string name;
        uint32_t rate, channels, bits;
        int32_t frames;
        fields >> name >> rate >> channels >> bits >> frames;
        const std::string path = Exchange("sox") + "\\" + name;
        TWaveIORecordPtr record;
        ASSERT_EQ(ReadWaveHeader(path + ".wav", wmFile, record), wioOk) << name;
        const WAVEFORMATEX& format = *record->Format;
        EXPECT_EQ(format.nSamplesPerSec, rate) << name;
        EXPECT_EQ(format.nChannels, channels) << name;
        EXPECT_EQ(format.wBitsPerSample, bits) << name;
        EXPECT_EQ(record->TotalSamples, frames) << name;
        EXPECT_EQ(ReadSamples(record.get()), ReadFileBytes(path + ".raw")) << name;
        if (name == "info16") {
            EXPECT_EQ(record->InfoList.Text(kName), "Outside tone");
            EXPECT_EQ(record->InfoList.Text(kArtist), "sox");
            ASSERT_EQ(record->DispList.size(), 1u);
            EXPECT_EQ(record->DispList[0].Data, (TBytes{'s', 'h', 'o', 'w', 'n', 0}));
        }
        ++files;
    }
    EXPECT_EQ(files, 6);
}

TEST(OutsideReaders, FilesWeWriteAreLeftForThem) {
    TManifest manifest;
    const std::string folder = Exchange("ours");
    struct Case {
        const char* name;
        int bits, channels;
        uint32_t rate;
        size_t frames, block;
        std::map<std::string, std::string> texts;
    };
    const Case cases[] = {
        {"mono8_odd", 8, 1, 8000, 1001, 100, {}},
        {"stereo8", 8, 2, 11025, 2048, 8192, {}},
        {"mono16_info", 16, 1, 22050, 777, 1000, {{"INAM", "Our tone"}, {"ICMT", "even"}}},
        {"stereo16", 16, 2, 44100, 44100, 8192, {{"ISFT", "Recorder"}}},
    };
    for (const Case& c : cases) {
        const WAVEFORMATEX format = PcmFormat(c.bits, c.channels, c.rate);
        const TBytes data = PatternBytes(c.frames * format.nBlockAlign, c.bits + c.channels);
        TWaveIORecordPtr record;
        ASSERT_EQ(CreateWaveIORecord(&format, record), wioOk);
        for (const auto& text : c.texts) {
            const std::string& id = text.first;
            record->InfoList.SetText(MakeFourCC(id[0], id[1], id[2], id[3]), text.second);
        }
        ASSERT_EQ(CreateWaveFile(record.get(), folder + "\\" + c.name + ".wav"), wioOk);
        for (size_t at = 0; at < data.size(); at += c.block) {
            const int32_t n = static_cast<int32_t>(std::min(c.block, data.size() - at));
            ASSERT_EQ(WriteWaveData(record.get(), data.data() + at, n), n);
        }
        ASSERT_EQ(CloseWaveFile(record.get()), wioOk);
        manifest.Add(c.name, format, data, c.texts);
    }

    // A recording made through the wave object, then reopened and written on at its end.
    const WAVEFORMATEX format = PcmFormat(16, 2, 48000);
    const std::string name = folder + "\\wave_object.wav";
    TBytes data = PatternBytes(48000, 3);
    {
        TMMWave wave;
        wave.CreateNewFile(name, &format);
        ASSERT_EQ(wave.WriteData(data.data(), static_cast<int32_t>(data.size())), 48000);
        wave.CloseFile();
    }
    TWaveIORecordPtr again;
    ASSERT_EQ(ReadWaveHeader(name, wmFile, again), wioOk);
    again->InfoList.SetText(kName, "Appended");
    again->Position = again->TotalSamples - 1;
    ASSERT_EQ(ReopenWaveFile(again.get()), wioOk);
    const TBytes more = PatternBytes(4004, 9);
    ASSERT_EQ(WriteWaveData(again.get(), more.data(), 4004), 4004);
    ASSERT_EQ(CloseWaveFile(again.get()), wioOk);
    data.resize(data.size() - 4);
    data.insert(data.end(), more.begin(), more.end());
    manifest.Add("wave_object", format, data, {{"INAM", "Appended"}});
}
