// The RIFF layer: the bytes of the files it writes, what it makes of files others wrote
// (including broken ones), and reading, seeking and rewriting through it.
#include "generator/wavefile/MMWaveIO.h"

#include "tests/wavefile/WaveTestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

const TFourCC kName = MakeFourCC('I', 'N', 'A', 'M');
const TFourCC kComment = MakeFourCC('I', 'C', 'M', 'T');

TWaveIORecordPtr CreateFile(const std::string& name, const WAVEFORMATEX& format) {
    TWaveIORecordPtr record;
    EXPECT_EQ(CreateWaveIORecord(&format, record), wioOk);
    EXPECT_EQ(CreateWaveFile(record.get(), name), wioOk);
    return record;
}

void WriteInBlocks(TWaveIORecord* record, const TBytes& data, size_t block) {
    for (size_t at = 0; at < data.size(); at += block) {
        const int32_t n = static_cast<int32_t>(std::min(block, data.size() - at));
        ASSERT_EQ(WriteWaveData(record, data.data() + at, n), n);
    }
}

TWaveIORecordPtr ReadHeader(const std::string& name, int32_t expected = wioOk) {
    TWaveIORecordPtr record;
    EXPECT_EQ(ReadWaveHeader(name, wmFile, record), expected) << name;
    return record;
}

// Every sample byte the layer hands out for the file, read in odd-sized pieces.
TBytes ReadAllData(TWaveIORecord* record) {
    EXPECT_EQ(ReopenWaveFile(record), wioOk);
    TBytes all;
    uint8_t piece[777];
    for (int guard = 0; guard < 1000000; ++guard) {
        const int32_t n = ReadWaveData(record, piece, sizeof piece);
        if (n <= 0) {
            EXPECT_EQ(n, 0);
            break;
        }
        all.insert(all.end(), piece, piece + n);
    }
    EXPECT_EQ(CloseWaveFile(record), wioOk);
    return all;
}

uint16_t ReadLE16(const TBytes& bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

} // namespace

TEST(WaveIOWriting, OneSecondOfCdAudioHasTheExactLayout) {
    TScratchFolder folder;
    const std::string name = folder.File("second.wav");
    const TBytes data = PatternBytes(176400);
    TWaveIORecordPtr record = CreateFile(name, PcmFormat(16, 2, 44100));
    WriteInBlocks(record.get(), data, 8192);
    EXPECT_EQ(record->TotalSamples, 44100);
    ASSERT_EQ(CloseWaveFile(record.get()), wioOk);
    EXPECT_FALSE(record->Handle);
    EXPECT_EQ(record->FileSize, 176444);
    EXPECT_EQ(record->LastSample, 44100);

    const TBytes file = ReadFileBytes(name);
    ASSERT_EQ(file.size(), 176444u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(ReadLE32(file, 4), 176436u);
    EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(ReadLE32(file, 16), 16u);
    EXPECT_EQ(ReadLE16(file, 20), 1);
    EXPECT_EQ(ReadLE16(file, 22), 2);
    EXPECT_EQ(ReadLE32(file, 24), 44100u);
    EXPECT_EQ(ReadLE32(file, 28), 176400u);
    EXPECT_EQ(ReadLE16(file, 32), 4);
    EXPECT_EQ(ReadLE16(file, 34), 16);
    EXPECT_EQ(std::string(file.begin() + 36, file.begin() + 40), "data");
    EXPECT_EQ(ReadLE32(file, 40), 176400u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), file.begin() + 44));
}

TEST(WaveIOWriting, OddDataGetsAZeroPadThatIsNoSample) {
    TScratchFolder folder;
    const std::string name = folder.File("odd.wav");
    const TBytes data{0x81, 0x82, 0x83};
    TWaveIORecordPtr record = CreateFile(name, PcmFormat(8, 1, 8000));
    ASSERT_EQ(WriteWaveData(record.get(), data.data(), 3), 3);
    ASSERT_EQ(CloseWaveFile(record.get()), wioOk);

    const TBytes file = ReadFileBytes(name);
    ASSERT_EQ(file.size(), 48u);
    EXPECT_EQ(ReadLE32(file, 40), 3u);
    EXPECT_EQ(file[47], 0);
    EXPECT_EQ(ReadLE32(file, 4), 40u);

    TWaveIORecordPtr back = ReadHeader(name);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->TotalSamples, 3);
    EXPECT_EQ(ReadAllData(back.get()), data);
}

TEST(WaveIOWriting, CreatedFileIsFinishedEvenWithoutData) {
    TScratchFolder folder;
    const std::string name = folder.File("empty.wav");
    TWaveIORecordPtr record = CreateFile(name, PcmFormat(16, 1, 22050));
    // Until it is finished the file must not look whole: its sizes say nothing is there.
    EXPECT_EQ(CloseWaveFile(record.get()), wioOk);
    const TBytes file = ReadFileBytes(name);
    ASSERT_EQ(file.size(), 44u);
    EXPECT_EQ(ReadLE32(file, 4), 36u);
    EXPECT_EQ(ReadLE32(file, 40), 0u);
    TWaveIORecordPtr back = ReadHeader(name);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->DataBytes, 0);
}

TEST(WaveIOWriting, InfoAndDisplayChunksComeBack) {
    TScratchFolder folder;
    const std::string name = folder.File("info.wav");
    const TBytes data = PatternBytes(4002);
    TWaveIORecordPtr record = CreateFile(name, PcmFormat(16, 1, 11025));
    record->InfoList.SetText(kName, "Sweep");
    record->InfoList.SetText(kComment, "odd length!");
    record->DispList.push_back({dtText, {'S', 'w', 'e', 'e', 'p'}});
    record->DispList.push_back({7, {1, 2, 3}}); // neither text nor bitmap: not written
    WriteInBlocks(record.get(), data, 1000);
    ASSERT_EQ(CloseWaveFile(record.get()), wioOk);

    const TBytes file = ReadFileBytes(name);
    EXPECT_EQ(ReadLE32(file, 4), file.size() - 8);
    TWaveIORecordPtr back = ReadHeader(name);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->InfoList.Text(kName), "Sweep");
    EXPECT_EQ(back->InfoList.Text(kComment), "odd length!");
    ASSERT_EQ(back->DispList.size(), 1u);
    EXPECT_EQ(back->DispList[0].Data, (std::vector<uint8_t>{'S', 'w', 'e', 'e', 'p', 0}));
    EXPECT_EQ(back->DataBytes, 4002);
    EXPECT_EQ(ReadAllData(back.get()), data);
}

TEST(WaveIOWriting, WritesAfterSeekingBackKeepEveryFrame) {
    TScratchFolder folder;
    const std::string name = folder.File("overwrite.wav");
    TBytes data = PatternBytes(400);
    TWaveIORecordPtr record = CreateFile(name, PcmFormat(16, 2, 8000));
    WriteInBlocks(record.get(), data, 400);
    ASSERT_EQ(SeekWaveData(record.get(), 10), wioOk);
    const TBytes patch(8, 0x55);
    ASSERT_EQ(WriteWaveData(record.get(), patch.data(), 8), 8);
    std::copy(patch.begin(), patch.end(), data.begin() + 40);
    ASSERT_EQ(CloseWaveFile(record.get()), wioOk);

    TWaveIORecordPtr back = ReadHeader(name);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->TotalSamples, 100);
    EXPECT_EQ(ReadAllData(back.get()), data);
}

TEST(WaveIOWriting, ReopenedFileGrowsAndGetsItsSizesAndInfoRewritten) {
    TScratchFolder folder;
    const std::string name = folder.File("reopen.wav");
    TBytes data = PatternBytes(400);
    TWaveIORecordPtr record = CreateFile(name, PcmFormat(16, 2, 8000));
    record->InfoList.SetText(kName, "first take");
    WriteInBlocks(record.get(), data, 400);
    ASSERT_EQ(CloseWaveFile(record.get()), wioOk);

    TWaveIORecordPtr again = ReadHeader(name);
    ASSERT_TRUE(again);
    again->Position = 99; // the last frame
    ASSERT_EQ(ReopenWaveFile(again.get()), wioOk);
    const TBytes more = PatternBytes(40, 7);
    ASSERT_EQ(WriteWaveData(again.get(), more.data(), 40), 40);
    again->InfoList.SetText(kName, "x"); // shorter than before: the old tail must go
    ASSERT_EQ(CloseWaveFile(again.get()), wioOk);
    data.resize(396);
    data.insert(data.end(), more.begin(), more.end());

    const TBytes file = ReadFileBytes(name);
    EXPECT_EQ(ReadLE32(file, 4), file.size() - 8);
    EXPECT_EQ(ReadLE32(file, 40), 436u);
    TWaveIORecordPtr back = ReadHeader(name);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->TotalSamples, 109);
    EXPECT_EQ(back->InfoList.Text(kName), "x");
    EXPECT_EQ(ReadAllData(back.get()), data);
}

TEST(WaveIOWriting, ArgumentsAndUnreachablePlacesAreRefused) {
    TScratchFolder folder;
    TWaveIORecordPtr record;
    EXPECT_EQ(CreateWaveIORecord(nullptr, record), wioBadArgument);
    WAVEFORMATEX broken = PcmFormat(16, 2, 44100);
    broken.nBlockAlign = 0;
    EXPECT_EQ(CreateWaveIORecord(&broken, record), wioBadArgument);
    EXPECT_EQ(CreateWaveFile(nullptr, folder.File("x.wav")), wioBadArgument);

    const WAVEFORMATEX format = PcmFormat(8, 1, 8000);
    ASSERT_EQ(CreateWaveIORecord(&format, record), wioOk);
    const std::string missing = folder.File("no such folder\\x.wav");
    EXPECT_EQ(CreateWaveFile(record.get(), missing), wioFileError);
    EXPECT_FALSE(FileExists(missing));
    const uint8_t byte = 0x80;
    EXPECT_EQ(WriteWaveData(record.get(), &byte, 1), -1);
    EXPECT_EQ(ReadWaveData(record.get(), nullptr, 1), -1);
    EXPECT_EQ(SetWaveIOBuffer(record.get(), 8192), wioNoFormat);
    EXPECT_EQ(CloseWaveFile(record.get()), wioOk);

    ASSERT_EQ(CreateWaveFile(record.get(), folder.File("y.wav")), wioOk);
    EXPECT_EQ(WriteWaveData(record.get(), &byte, 0), -1);
    EXPECT_EQ(SetWaveIOBuffer(record.get(), -1), wioNoFormat);
    EXPECT_EQ(SetWaveIOBuffer(record.get(), 65536), wioOk);
    EXPECT_EQ(CloseWaveFile(record.get()), wioOk);

    // A read-only file is opened for reading only, and writing to it fails at once.
    const std::string readOnly = folder.File("y.wav");
    ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    TWaveIORecordPtr again = ReadHeader(readOnly);
    ASSERT_TRUE(again);
    ASSERT_EQ(ReopenWaveFile(again.get()), wioOk);
    EXPECT_EQ(WriteWaveData(again.get(), &byte, 1), -1);
    EXPECT_EQ(CloseWaveFile(again.get()), wioOk);
    EXPECT_EQ(ReadFileBytes(readOnly).size(), 44u);
}

TEST(WaveIOWriting, DeepFolderPathsWork) {
    TScratchFolder folder;
    std::string path = folder.Path();
    while (path.size() < 200) {
        path += "\\a rather long folder name";
        ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
    }
    const std::string name = path + "\\recording.wav";
    const TBytes data = PatternBytes(64);
    TWaveIORecordPtr record = CreateFile(name, PcmFormat(16, 2, 44100));
    WriteInBlocks(record.get(), data, 64);
    ASSERT_EQ(CloseWaveFile(record.get()), wioOk);
    TWaveIORecordPtr back = ReadHeader(name);
    ASSERT_TRUE(back);
    EXPECT_EQ(ReadAllData(back.get()), data);
}

const char* const kChildFileVariable = "SW_WAVEFILE_KILLED_WRITER_FILE";
const char* const kChildEventName = "sw_wavefile_killed_writer_progress";
const int kChildBlocks = 40;

// Runs only as the child of the test below, which kills it while it writes.
TEST(WaveIOKilledWriter, DISABLED_WritesUntilKilled) {
    char name[MAX_PATH];
    ASSERT_GT(GetEnvironmentVariableA(kChildFileVariable, name, sizeof name), 0u);
    TWaveIORecordPtr record = CreateFile(name, PcmFormat(16, 2, 44100));
    const TBytes data = PatternBytes(8192 * kChildBlocks * 4);
    HANDLE progress = OpenEventA(EVENT_MODIFY_STATE, FALSE, kChildEventName);
    for (size_t at = 0;; at = (at + 8192) % data.size()) {
        ASSERT_EQ(WriteWaveData(record.get(), data.data() + at, 8192), 8192);
        if (record->DataBytes == 8192 * kChildBlocks) {
            SetEvent(progress);
        }
        if (record->DataBytes >= static_cast<int32_t>(data.size())) {
            Sleep(INFINITE);
        }
    }
}

TEST(WaveIOReading, FileOfAKilledWriterReadsToTheEndOfTheFile) {
    TScratchFolder folder;
    const std::string name = folder.File("killed.wav");
    SetEnvironmentVariableA(kChildFileVariable, name.c_str());
    HANDLE progress = CreateEventA(nullptr, TRUE, FALSE, kChildEventName);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string command = std::string("\"") + self +
                          "\" --gtest_also_run_disabled_tests"
                          " --gtest_filter=WaveIOKilledWriter.DISABLED_WritesUntilKilled";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &child));
    const DWORD waited = WaitForSingleObject(progress, 30000);
    TerminateProcess(child.hProcess, 9);
    WaitForSingleObject(child.hProcess, 30000);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    CloseHandle(progress);
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "the writer never got going";

    const TBytes file = ReadFileBytes(name);
    EXPECT_EQ(ReadLE32(file, 4), 0u);
    EXPECT_EQ(ReadLE32(file, 40), 0u);
    TWaveIORecordPtr back = ReadHeader(name);
    ASSERT_TRUE(back);
    // Whatever reached the disk, in whole frames; the writer's last buffer may be lost.
    EXPECT_EQ(back->DataBytes, static_cast<int32_t>((file.size() - 44) / 4 * 4));
    EXPECT_GE(back->DataBytes, 8192 * (kChildBlocks - 1));
    const TBytes data = PatternBytes(8192 * kChildBlocks * 4);
    EXPECT_EQ(ReadAllData(back.get()), TBytes(data.begin(), data.begin() + back->DataBytes));
}

TEST(WaveIOReading, HandMadeFiles) {
    const WAVEFORMATEX stereo16 = PcmFormat(16, 2, 44100);
    WAVEFORMATEX wrongAlign = stereo16;
    wrongAlign.nBlockAlign = 3;
    wrongAlign.nAvgBytesPerSec = 1234;
    WAVEFORMATEX noChannels = stereo16;
    noChannels.nChannels = 0;
    WAVEFORMATEX adpcm = PcmFormat(4, 1, 8000);
    adpcm.wFormatTag = 0x11;
    adpcm.nBlockAlign = 256;
    adpcm.nAvgBytesPerSec = 4055;
    adpcm.cbSize = 40; // claims more extra bytes than its chunk holds
    const TBytes info = {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 2, 0, 0, 0, 'n', 0};

    struct Case {
        const char* what;
        TBytes file;
        int32_t result;
        int32_t dataBytes;
        int32_t dataOffset;
    };
    const Case cases[] = {
        {"plain", TRiffBuilder().Format(stereo16).Chunk("data", PatternBytes(16)).Build(), wioOk,
         16, 44},
        {"data chunk longer than the file",
         TRiffBuilder().Format(stereo16).ChunkClaiming("data", 100000, PatternBytes(10)).Build(),
         wioOk, 8, 44},
        {"RIFF longer than the file",
         TRiffBuilder().Format(stereo16).Chunk("data", PatternBytes(16)).Build(999999), wioOk, 16,
         44},
        {"wrong block align is corrected",
         TRiffBuilder().Format(wrongAlign).Chunk("data", PatternBytes(18)).Build(), wioOk, 16, 44},
        {"AVI form", TRiffBuilder("AVI ").Format(stereo16).Chunk("data", PatternBytes(16)).Build(),
         wioFileError, 0, 0},
        {"data without fmt", TRiffBuilder().Chunk("data", PatternBytes(16)).Build(), wioNoFormat, 0,
         0},
        {"fmt too short to describe samples",
         TRiffBuilder().Format(stereo16, 4).Chunk("data", PatternBytes(16)).Build(), wioNoFormat, 0,
         0},
        {"no channels", TRiffBuilder().Format(noChannels).Chunk("data", PatternBytes(16)).Build(),
         wioNoFormat, 0, 0},
        {"not a RIFF file", TBytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'},
         wioFileError, 0, 0},
        {"empty file", TBytes{}, wioFileError, 0, 0},
        {"fmt after data", TRiffBuilder().Chunk("data", PatternBytes(16)).Format(stereo16).Build(),
         wioOk, 16, 20},
        {"chunks after data end the samples",
         TRiffBuilder()
             .Format(stereo16)
             .Chunk("data", PatternBytes(16))
             .Chunk("LIST", info)
             .Build(),
         wioOk, 16, 44},
        {"a second data chunk is not read",
         TRiffBuilder()
             .Format(stereo16)
             .Chunk("data", PatternBytes(16))
             .Chunk("data", PatternBytes(8))
             .Build(),
         wioOk, 16, 44},
        {"non-PCM format keeps its figures",
         TRiffBuilder()
             .Format(adpcm, 20)
             .Chunk("fact", {0, 0, 0, 0})
             .Chunk("data", PatternBytes(512))
             .Build(),
         wioOk, 512, 60},
    };
    TScratchFolder folder;
    for (const Case& c : cases) {
        const std::string name = folder.File("case.wav");
        WriteFileBytes(name, c.file);
        TWaveIORecordPtr record = ReadHeader(name, c.result);
        if (c.result != wioOk) {
            EXPECT_FALSE(record) << c.what;
            continue;
        }
        ASSERT_TRUE(record) << c.what;
        EXPECT_EQ(record->DataBytes, c.dataBytes) << c.what;
        EXPECT_EQ(record->DataOffset, c.dataOffset) << c.what;
        EXPECT_EQ(record->FileSize, static_cast<int32_t>(c.file.size())) << c.what;
        const WAVEFORMATEX& format = *record->Format;
        if (format.wFormatTag == WAVE_FORMAT_PCM) {
            EXPECT_EQ(format.nBlockAlign, 4) << c.what;
            EXPECT_EQ(format.nAvgBytesPerSec, 176400u) << c.what;
            EXPECT_EQ(record->TotalSamples, c.dataBytes / 4) << c.what;
        } else {
            EXPECT_EQ(format.nBlockAlign, 256) << c.what;
            EXPECT_EQ(format.cbSize, 2) << c.what;
            EXPECT_GE(record->FormatBytes, 20) << c.what;
        }
        EXPECT_EQ(ReadAllData(record.get()), TBytes(c.file.begin() + c.dataOffset,
                                                    c.file.begin() + c.dataOffset + c.dataBytes))
            << c.what;
    }
}

TEST(WaveIOReading, TrailingBytesAfterTheRiffFormAreNoSamples) {
    TScratchFolder folder;
    const std::string name = folder.File("tagged.wav");
    TBytes file =
        TRiffBuilder().Format(PcmFormat(16, 2, 44100)).Chunk("data", PatternBytes(16)).Build();
    const TBytes tag = {'T', 'A', 'G', 'x', 'y', 'z', 'w', 'v'};
    file.insert(file.end(), tag.begin(), tag.end());
    WriteFileBytes(name, file);
    TWaveIORecordPtr record = ReadHeader(name);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->DataBytes, 16);
}

TEST(WaveIOReading, SeekClampsIntoTheDataAndReadsFromTheFrame) {
    TScratchFolder folder;
    const std::string name = folder.File("seek.wav");
    const TBytes data = PatternBytes(400);
    WriteFileBytes(name, TRiffBuilder().Format(PcmFormat(16, 2, 8000)).Chunk("data", data).Build());
    TWaveIORecordPtr record = ReadHeader(name);
    ASSERT_TRUE(record);
    ASSERT_EQ(ReopenWaveFile(record.get()), wioOk);

    struct Case {
        int32_t sample, position, bytesLeft;
    };
    for (const Case& c :
         {Case{10, 10, 360}, Case{-5, 0, 400}, Case{1000, 99, 4}, Case{99, 99, 4}}) {
        ASSERT_EQ(SeekWaveData(record.get(), c.sample), wioOk);
        EXPECT_EQ(record->Position, c.position) << c.sample;
        EXPECT_EQ(record->BytesLeft, c.bytesLeft) << c.sample;
        uint8_t frame[4];
        ASSERT_EQ(ReadWaveData(record.get(), frame, 4), 4);
        EXPECT_TRUE(std::equal(frame, frame + 4, data.begin() + 4 * c.position)) << c.sample;
        EXPECT_EQ(record->Position, c.position + 1);
    }
    uint8_t rest[16];
    EXPECT_EQ(ReadWaveData(record.get(), rest, sizeof rest), 0);
    EXPECT_EQ(CloseWaveFile(record.get()), wioOk);
    // A file that was only read is left as it was.
    EXPECT_EQ(ReadFileBytes(name).size(), 444u);
}

// A valid file with every kind of chunk, cut at every byte: each cut reads as an error or as a
// shorter file whose samples are exactly the ones still there.
TEST(WaveIORobustness, FileTruncatedAtEveryOffset) {
    TMMInfoList info;
    info.SetText(kName, "cut me");
    TBytes infoBody = {'I', 'N', 'F', 'O'};
    const TBytes entries = info.Serialize();
    infoBody.insert(infoBody.end(), entries.begin(), entries.end());
    const TBytes data = PatternBytes(400);
    const TBytes file = TRiffBuilder()
                            .Format(PcmFormat(16, 2, 22050))
                            .Chunk("LIST", infoBody)
                            .Chunk("DISP", {1, 0, 0, 0, 'h', 'i', 0})
                            .Chunk("data", data)
                            .Chunk("LIST", infoBody)
                            .Build();
    const size_t dataOffset = 44 + 8 + infoBody.size() + 8 + 8;
    ASSERT_EQ(std::string(file.begin() + dataOffset - 8, file.begin() + dataOffset - 4), "data");

    TScratchFolder folder;
    const std::string name = folder.File("cut.wav");
    for (size_t cut = 0; cut <= file.size(); ++cut) {
        WriteFileBytes(name, TBytes(file.begin(), file.begin() + cut));
        TWaveIORecordPtr record;
        const int32_t result = ReadWaveHeader(name, wmFile, record);
        if (cut < dataOffset) {
            EXPECT_TRUE(result != wioOk || record->DataBytes == 0) << cut;
            continue;
        }
        ASSERT_EQ(result, wioOk) << cut;
        const size_t present = std::min(cut - dataOffset, data.size()) / 4 * 4;
        ASSERT_EQ(record->DataBytes, static_cast<int32_t>(present)) << cut;
        ASSERT_EQ(ReadAllData(record.get()), TBytes(data.begin(), data.begin() + present)) << cut;
    }
}

TEST(WaveIORobustness, RandomByteFlipsInTheHeaderArea) {
    TMMInfoList info;
    info.SetText(kName, "flip me");
    TBytes infoBody = {'I', 'N', 'F', 'O'};
    const TBytes entries = info.Serialize();
    infoBody.insert(infoBody.end(), entries.begin(), entries.end());
    const TBytes original = TRiffBuilder()
                                .Format(PcmFormat(16, 2, 22050))
                                .Chunk("LIST", infoBody)
                                .Chunk("data", PatternBytes(256))
                                .Chunk("DISP", {1, 0, 0, 0, 'h', 'i', 0})
                                .Build();
    const size_t headerArea = original.size() - 256 - 16;
    std::mt19937 random(20261211);
    std::uniform_int_distribution<size_t> where(0, headerArea - 1);
    std::uniform_int_distribution<int> flips(1, 4);
    std::uniform_int_distribution<int> value(0, 255);

    TScratchFolder folder;
    const std::string name = folder.File("flipped.wav");
    int accepted = 0;
    for (int copy = 0; copy < 1500; ++copy) {
        TBytes file = original;
        for (int n = flips(random); n > 0; --n) {
            // Half of the flips write the extreme bytes that make sizes huge or zero.
            const int v = value(random);
            file[where(random)] = static_cast<uint8_t>(v < 64 ? 0xFF : v < 128 ? 0x00 : v);
        }
        WriteFileBytes(name, file);
        TWaveIORecordPtr record;
        if (ReadWaveHeader(name, wmFile, record) != wioOk) {
            continue;
        }
        ++accepted;
        ASSERT_GE(record->DataOffset, 0) << copy;
        ASSERT_LE(int64_t(record->DataOffset) + record->DataBytes, int64_t(file.size())) << copy;
        if (ReopenWaveFile(record.get()) != wioOk) {
            ASSERT_EQ(record->DataOffset, 0) << copy << ": only a file without data is refused";
            continue;
        }
        TBytes read(record->DataBytes + 64);
        int32_t total = 0;
        for (int32_t n; (n = ReadWaveData(record.get(), read.data() + total, 64)) > 0;) {
            total += n;
            ASSERT_LE(total, record->DataBytes) << copy;
        }
        EXPECT_EQ(total, record->DataBytes) << copy;
        EXPECT_TRUE(
            std::equal(read.begin(), read.begin() + total, file.begin() + record->DataOffset))
            << copy;
        EXPECT_EQ(CloseWaveFile(record.get()), wioOk);
    }
    EXPECT_GT(accepted, 0);
}

TEST(WaveIOFormat, DescriptionUsesTheRegionalSeparators) {
    WAVEFORMATEX cd = PcmFormat(16, 2, 44100);
    EXPECT_EQ(FormatDescription(&cd), "44.100 kHz, 16 Bit, Stereo");
    WAVEFORMATEX quad = PcmFormat(8, 4, 8000);
    EXPECT_EQ(FormatDescription(&quad), "8.000 kHz, 8 Bit, 4 Channels");
    WAVEFORMATEX phone = PcmFormat(8, 1, 11025);
    EXPECT_EQ(FormatDescription(&phone), "11.025 kHz, 8 Bit, Mono");
    EXPECT_EQ(FormatDescription(nullptr), "Unknown");
}
