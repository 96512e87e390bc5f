// The wave file object: adopting, refusing and creating files by name, its reported figures,
// positioning and block reads, and who gets told about changes.
#include "generator/wavefile/MMWave.h"

#include "tests/wavefile/WaveTestFiles.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

class TCountingObserver : public TMMObserver {
public:
    void ObjectChanged(TMMObject*) override { ++Calls; }
    int Calls = 0;
};

std::string WriteWave(const std::string& name, const WAVEFORMATEX& format, const TBytes& data) {
    WriteFileBytes(name, TRiffBuilder().Format(format).Chunk("data", data).Build());
    return name;
}

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EMMWaveError& error) {
        return error.what();
    }
    return "no error";
}

} // namespace

TEST(Wave, FiguresWithoutAFile) {
    TMMWave wave;
    EXPECT_EQ(wave.SampleRate(), 11025u);
    EXPECT_EQ(wave.BitLength(), 0);
    EXPECT_EQ(wave.FormatTag(), 0);
    EXPECT_EQ(wave.FormatString(), "Unknown");
    EXPECT_EQ(wave.Mode(), mMono);
    EXPECT_EQ(wave.Position(), -1);
    EXPECT_EQ(wave.DataSize(), 0);
    EXPECT_EQ(wave.FileSize(), 0);
    EXPECT_TRUE(wave.IsEmpty());
    EXPECT_TRUE(wave.FileMustExist());
    EXPECT_EQ(wave.TimeFormat(), tfSample);
    EXPECT_EQ(wave.WriteData("x", 1), -1);
    EXPECT_EQ(wave.ReadWaveBlock(nullptr, 4), -1);

    EXPECT_EQ(wave.IOBufferSize(), 32768);
    wave.SetIOBufferSize(1000);
    EXPECT_EQ(wave.IOBufferSize(), 8192);
    wave.SetIOBufferSize(65536);
    EXPECT_EQ(wave.IOBufferSize(), 65536);
}

TEST(Wave, AdoptsAnExistingFileAndReportsItInEveryTimeFormat) {
    TScratchFolder folder;
    const std::string name =
        WriteWave(folder.File("cd.wav"), PcmFormat(16, 2, 44100), PatternBytes(17640));
    TMMWave wave;
    TCountingObserver observer;
    wave.AddObserver(&observer);
    int ownHandler = 0;
    wave.OnChange = [&](TMMObject*) { ++ownHandler; };

    wave.SetFileName(name);
    EXPECT_EQ(observer.Calls, 1);
    EXPECT_EQ(ownHandler, 1);
    EXPECT_EQ(wave.FileName(), name);
    EXPECT_EQ(wave.BitLength(), 16);
    EXPECT_EQ(wave.Mode(), mStereo);
    EXPECT_EQ(wave.SampleRate(), 44100u);
    EXPECT_EQ(wave.FormatString(), "PCM");
    EXPECT_EQ(wave.FileSize(), 17640 + 44);
    EXPECT_FALSE(wave.Opened());
    EXPECT_EQ(wave.DataSize(), 4410);
    wave.SetTimeFormat(tfMillisecond);
    EXPECT_EQ(wave.DataSize(), 100);
    wave.SetTimeFormat(tfByte);
    EXPECT_EQ(wave.DataSize(), 17640);

    // The same name with the same file on disk changes nothing; an empty name lets go.
    wave.SetFileName(name);
    EXPECT_EQ(observer.Calls, 1);
    wave.SetFileName("");
    EXPECT_EQ(observer.Calls, 2);
    EXPECT_EQ(wave.FileName(), "");
    EXPECT_EQ(wave.Position(), -1);
    wave.RemoveObserver(&observer);
    wave.SetFileName(name);
    EXPECT_EQ(observer.Calls, 2);
}

TEST(Wave, RefusedNamesKeepThePreviousFile) {
    TScratchFolder folder;
    const std::string valid =
        WriteWave(folder.File("ok.wav"), PcmFormat(8, 1, 8000), PatternBytes(80));
    const std::string text = folder.File("notes.txt");
    WriteFileBytes(text, {'n', 'o', 't', 'e', 's'});
    const std::string missing = folder.File("missing.wav");

    struct Case {
        const char* what;
        const std::string* previous;
        const std::string* value;
        const char* message;
    };
    const std::string none;
    const Case cases[] = {
        {"text file, no previous name", &none, &text, "Invalid wave file..."},
        {"text file, previous name a wave", &valid, &text, "Error reading wave file"},
        {"missing file that must exist", &valid, &missing, "Error reading wave file"},
    };
    for (const Case& c : cases) {
        TMMWave wave;
        wave.SetFileName(*c.previous);
        EXPECT_EQ(ErrorOf([&] { wave.SetFileName(*c.value); }), c.message) << c.what;
        EXPECT_EQ(wave.FileName(), *c.previous) << c.what;
    }
}

TEST(Wave, NameOfAFileToComeIsStoredExpandedAndNothingIsCreated) {
    TScratchFolder folder;
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(folder.Path().c_str()));
    TMMWave wave;
    wave.SetFileMustExist(false);
    TCountingObserver observer;
    wave.AddObserver(&observer);
    wave.SetFileName("later.wav");
    SetCurrentDirectoryA(previous);

    EXPECT_EQ(wave.FileName(), folder.File("later.wav"));
    EXPECT_EQ(observer.Calls, 1);
    EXPECT_FALSE(FileExists(folder.File("later.wav")));
    EXPECT_EQ(wave.WaveFormat(), nullptr);
}

TEST(Wave, CreateNewFileReplacesTheFileAndFinishesItOnClose) {
    TScratchFolder folder;
    const std::string name =
        WriteWave(folder.File("take.wav"), PcmFormat(8, 1, 8000), PatternBytes(5000));
    TMMWave wave;
    wave.SetFileName(name);
    TCountingObserver observer;
    wave.AddObserver(&observer);

    const WAVEFORMATEX format = PcmFormat(16, 2, 44100);
    wave.CreateNewFile(name, &format);
    EXPECT_EQ(observer.Calls, 1);
    EXPECT_TRUE(wave.Opened());
    EXPECT_EQ(wave.BitLength(), 16);
    EXPECT_TRUE(wave.IsEmpty());
    const TBytes data = PatternBytes(8192 * 3, 5);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(wave.WriteData(data.data() + 8192 * i, 8192), 8192);
        wave.OpenFile(); // already open: the recording goes on where it was
    }
    EXPECT_EQ(wave.DataSize(), 8192 * 3 / 4);
    wave.CloseFile();
    EXPECT_FALSE(wave.Opened());
    EXPECT_EQ(wave.FileSize(), 8192 * 3 + 44);

    const TBytes file = ReadFileBytes(name);
    ASSERT_EQ(file.size(), 8192u * 3 + 44);
    EXPECT_EQ(ReadLE32(file, 40), 8192u * 3);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), file.begin() + 44));
}

TEST(Wave, FailedCreateLeavesNoFile) {
    TScratchFolder folder;
    const WAVEFORMATEX format = PcmFormat(16, 2, 44100);
    TMMWave wave;
    const std::string unreachable = folder.File("no such folder\\x.wav");
    EXPECT_EQ(ErrorOf([&] { wave.CreateNewFile(unreachable, &format); }),
              "Unable to create wave file");
    EXPECT_FALSE(FileExists(unreachable));
    EXPECT_EQ(wave.IORecord(), nullptr);
    const std::string name = folder.File("noformat.wav");
    EXPECT_EQ(ErrorOf([&] { wave.CreateNewFile(name, nullptr); }), "Unable to create wave file");
    EXPECT_FALSE(FileExists(name));
}

TEST(Wave, PositionsAndReadsBlocksInEveryTimeFormat) {
    TScratchFolder folder;
    const TBytes data = PatternBytes(4000); // 1000 frames, 125 ms at 8000 Hz
    const std::string name = WriteWave(folder.File("read.wav"), PcmFormat(16, 2, 8000), data);
    TMMWave wave;
    wave.SetFileName(name);
    wave.OpenFile();
    EXPECT_TRUE(wave.Opened());

    struct Case {
        TMMTimeFormats format;
        int32_t value;
        int32_t frame;
    };
    for (const Case& c : {Case{tfSample, 250, 250}, Case{tfMillisecond, 100, 800},
                          Case{tfByte, 40, 10}, Case{tfSample, -3, 0}}) {
        wave.SetTimeFormat(c.format);
        wave.SetPosition(c.value);
        uint8_t block[12];
        ASSERT_EQ(wave.ReadWaveBlock(block, sizeof block), 12) << c.value;
        EXPECT_TRUE(std::equal(block, block + 12, data.begin() + 4 * c.frame)) << c.value;
        wave.SetTimeFormat(tfSample);
        EXPECT_EQ(wave.Position(), c.frame + 3) << c.value;
    }

    wave.SetPosition(990);
    TBytes rest(100);
    EXPECT_EQ(wave.ReadWaveBlock(rest.data(), 100), 40);
    EXPECT_TRUE(std::equal(rest.begin(), rest.begin() + 40, data.end() - 40));
    EXPECT_EQ(wave.Position(), 1000);
    EXPECT_EQ(wave.ReadWaveBlock(rest.data(), 100), -1);
    wave.SetPosition(5000); // past the end: clamped, nothing left
    EXPECT_EQ(wave.Position(), 1000);
    EXPECT_EQ(wave.ReadWaveBlock(rest.data(), 100), -1);
    wave.CloseFile();
    EXPECT_EQ(ReadFileBytes(name).size(), data.size() + 44);
}

TEST(Wave, BlockReadOfAVanishedTailGivesAShortSilence) {
    TScratchFolder folder;
    const std::string name =
        WriteWave(folder.File("shrunk.wav"), PcmFormat(16, 2, 8000), PatternBytes(4000));
    TMMWave wave;
    wave.SetFileName(name);
    wave.OpenFile();
    wave.SetPosition(500);
    // The layer finds nothing more to read, as when another program cut the file short.
    TWaveIORecord* record = wave.IORecord();
    ASSERT_NE(record, nullptr);
    record->BytesLeft = 0;
    uint8_t block[8];
    std::fill(std::begin(block), std::end(block), 0xEE);
    EXPECT_EQ(wave.ReadWaveBlock(block, 8), 4);
    EXPECT_EQ(TBytes(block, block + 8), (TBytes{0, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(wave.Position(), 1000);
    EXPECT_EQ(wave.ReadWaveBlock(block, 8), -1);
    wave.CloseFile();
}

TEST(Wave, OpeningAFileThatWentAwayFails) {
    TScratchFolder folder;
    const std::string name =
        WriteWave(folder.File("gone.wav"), PcmFormat(16, 2, 8000), PatternBytes(400));
    TMMWave wave;
    wave.SetFileName(name);
    ASSERT_TRUE(DeleteFileA(name.c_str()));
    EXPECT_EQ(ErrorOf([&] { wave.OpenFile(); }), "Unable to open wave file");
    EXPECT_FALSE(wave.Opened());
}

TEST(Wave, FormatNames) {
    TScratchFolder folder;
    struct Case {
        WORD tag;
        const char* name;
    };
    for (const Case& c : {Case{0x0011, "IMA ADPCM"}, Case{0x0209, "Dolby AC2"},
                          Case{0xFFFF, "*DEVELOPMENT ONLY TAG*"}, Case{0x0004, "Unknown"}}) {
        WAVEFORMATEX format = PcmFormat(16, 1, 8000);
        format.wFormatTag = c.tag;
        const std::string name = WriteWave(folder.File("tag.wav"), format, PatternBytes(4));
        TMMWave wave;
        wave.SetFileName(name);
        EXPECT_EQ(wave.FormatString(), c.name) << c.tag;
    }
}
