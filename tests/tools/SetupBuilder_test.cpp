#include "tools/SetupBuilder.h"

#include "tools/SourceFiles.h"

#include "stub/ui/SUB.h"
#include "tests/tools/SetupFixture.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::string Text(size_t size, int seed) {
    std::string text;
    for (int i = 0; text.size() < size; ++i) {
        text += "row " + std::to_string((i * 7919 + seed) % 10007) + ";";
    }
    text.resize(size);
    return text;
}

std::string Noise(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

void Put(std::string& bytes, size_t offset, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) {
        bytes[offset + i] = static_cast<char>(value >> (8 * i));
    }
}

// A minimal PE image as linkers lay it out: headers at `peOffset`, one section at 0x400.
std::string PeStub(uint32_t peOffset, uint32_t sizeOfHeaders = 0x400) {
    std::string bytes(0x600, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes.replace(0x40, 16, "DOS stub code!!!");
    Put(bytes, 0x3C, peOffset, 4);
    bytes.replace(peOffset, 4, std::string("PE\0\0", 4));
    Put(bytes, peOffset + 4, 0x14C, 2);  // machine
    Put(bytes, peOffset + 6, 1, 2);      // one section
    Put(bytes, peOffset + 20, 224, 2);   // optional header size
    Put(bytes, peOffset + 24, 0x10B, 2); // PE32
    Put(bytes, peOffset + 24 + 60, sizeOfHeaders, 4);
    const uint32_t section = peOffset + 24 + 224;
    bytes.replace(section, 5, ".text");
    Put(bytes, section + 16, 0x200, 4); // raw size
    Put(bytes, section + 20, 0x400, 4); // raw pointer
    bytes.replace(0x400, 12, "section data");
    return bytes;
}

uint32_t ExpectedDos(int year, int month, int day, int hour, int minute, int second) {
    return static_cast<uint32_t>((year - 1980) << 25 | month << 21 | day << 16 | hour << 11 |
                                 minute << 5 | second / 2);
}

} // namespace

TEST(SetupBuilder, RoundTripsEveryFieldFlagAndFile) {
    SetupFolder folder("roundtrip");
    folder.Write("stub.exe", "not an executable stub");
    folder.Write("lang.txt", "; texts\n[English]\ns0=Sample Setup\ns1=Unpacking...\r\n"
                             "[German]\ns0=Beispiel-Setup\ns7=\n");
    folder.AddFile("Engine.exe", Text(5000, 1));
    folder.AddFile("empty.dat", "");
    folder.AddFile("one.txt", "1");
    folder.AddFile("sub/dir/table.bin", Noise(513, 7));
    folder.Touch("Engine.exe", 2021, 6, 15, 13, 45, 31);

    SetupOptions options = folder.Options();
    options.engine = "Engine.exe";
    options.engineParameters = "/S /D=\"C:\\Program Files\\App\"";
    options.languageFile = folder.Path("lang.txt");
    options.updateLocation = "http://updates.example/app";
    options.infoFileName = "app.ini";
    options.agentName = "AppAgent.exe";
    options.agentToken = "agent secret";
    options.backgroundInstall = true;
    options.downloadLocation = "http://downloads.example/app";
    options.downloadToken = "download secret";
    options.alwaysDownload = true;
    options.confirmDownload = true;
    options.flags = tfAnnounceTempDrive | tfRunFromCopy | tfShowActivityBar | tfAgentLog;

    SetupReport report;
    std::string error;
    ASSERT_TRUE(BuildSetup(options, report, error)) << error;
    ASSERT_EQ(report.volumes, std::vector<std::string>{options.output});
    EXPECT_EQ(report.fileCount, 4u);

    const TGFileInfo info(options.output);
    const TPackageTrailer& trailer = info.Trailer();
    EXPECT_TRUE(trailer.HasMagic());
    EXPECT_EQ(trailer.version, 1);
    EXPECT_EQ(trailer.blockCount, 3);
    EXPECT_EQ(trailer.fileCount, 4u);
    EXPECT_EQ(trailer.dataStart, 22u); // right after the stub
    EXPECT_TRUE(info.AnnounceTempDrive());
    EXPECT_FALSE(info.MultiVolume());
    EXPECT_TRUE(info.RunFromCopy());
    EXPECT_TRUE(info.ShowActivityBar());
    EXPECT_TRUE(info.AgentLogEnabled());
    EXPECT_FALSE(info.IsDownloadStub());
    EXPECT_TRUE(info.ConfirmDownload());
    EXPECT_TRUE(info.HasAgent());
    EXPECT_FALSE(info.IsAgent());
    EXPECT_EQ(info.UpdateLocation(), "http://updates.example/app");
    EXPECT_EQ(info.InfoFileName(), "app.ini");
    EXPECT_EQ(info.AgentName(), "AppAgent.exe");
    EXPECT_EQ(info.AgentToken(true), "agent secret");
    EXPECT_NE(info.AgentToken(false), "agent secret");
    EXPECT_TRUE(info.BackgroundInstall());
    EXPECT_EQ(info.DownloadLocation(), "http://downloads.example/app");
    EXPECT_EQ(info.SetupFileName(), "setup.exe");
    EXPECT_TRUE(info.AlwaysDownload());
    EXPECT_EQ(info.DownloadToken(true), "download secret");
    EXPECT_TRUE(VolumeChecksumMatches(options.output));

    // Sizes 5000, 0, 1 and 513: plain total, then rounded up to each cluster size.
    const uint32_t space[] = {5514, 6656, 7168, 10240, 16384, 24576, 49152, 98304, 196608};
    for (int i = 0; i < kSpaceTableSize; ++i) {
        EXPECT_EQ(trailer.space[i], space[i]) << "entry " << i;
    }

    const std::string english = SUB::GetField(info.LanguageBlock(), 0, "");
    const std::string german = SUB::GetField(info.LanguageBlock(), 1, "");
    EXPECT_EQ(SUB::GetField(english, 0, ""), "English");
    EXPECT_EQ(SUB::GetKeyValue(english, "s1", "?", "-"), "Unpacking...");
    EXPECT_EQ(SUB::GetField(german, 0, ""), "German");
    EXPECT_EQ(SUB::GetKeyValue(german, "s0", "?", "-"), "Beispiel-Setup");
    EXPECT_EQ(SUB::GetKeyValue(german, "s7", "?", "-"), "-");

    const Extracted files = ExtractAll(report.volumes);
    EXPECT_FALSE(files.damaged);
    EXPECT_EQ(files.entries, 4);
    EXPECT_EQ(files.files.at("Engine.exe"), Text(5000, 1));
    EXPECT_EQ(files.files.at("empty.dat"), "");
    EXPECT_EQ(files.files.at("one.txt"), "1");
    EXPECT_EQ(files.files.at("sub\\dir\\table.bin"), Noise(513, 7));
    EXPECT_EQ(files.dates.at("Engine.exe"), ExpectedDos(2021, 6, 15, 13, 45, 31));
    EXPECT_EQ(files.engines,
              std::vector<std::string>{"Engine.exe*/S /D=\"C:\\Program Files\\App\""});
}

TEST(SetupBuilder, SplitsLargeFilesIntoEntriesAndStoresWhatDoesNotCompress) {
    SetupFolder folder("split");
    folder.Write("stub.exe", "stub");
    folder.AddFile("Engine.exe", Text(10000, 2));
    folder.AddFile("noise.bin", Noise(10000, 3));
    SetupOptions options = folder.Options();
    options.engine = "engine.EXE"; // matched without regard to case
    options.splitSize = 4096;
    options.checksum = false;

    SetupReport report;
    std::string error;
    ASSERT_TRUE(BuildSetup(options, report, error)) << error;
    const Extracted files = ExtractAll(report.volumes);
    EXPECT_FALSE(files.damaged);
    EXPECT_EQ(files.entries, 6); // 4096 + 4096 + 1808 twice
    EXPECT_EQ(files.files.at("Engine.exe"), Text(10000, 2));
    EXPECT_EQ(files.files.at("noise.bin"), Noise(10000, 3));
    EXPECT_EQ(files.engines, std::vector<std::string>{"Engine.exe*"}); // first part only
    EXPECT_EQ(files.stored, 3); // noise does not compress: its parts are stored as they are
    EXPECT_EQ(ReadTrailer(options.output).trailer.checksum, kUncheckedSum);
}

TEST(SetupBuilder, SpreadsASetupOverVolumesOfTheChosenSize) {
    SetupFolder folder("volumes");
    folder.Write("stub.exe", std::string(5000, 's'));
    folder.AddFile("Engine.exe", Text(30000, 4));
    folder.AddFile("data/noise.bin", Noise(150000, 5));
    folder.AddFile("data/text.txt", Text(400000, 6));
    SetupOptions options = folder.Options();
    options.engine = "Engine.exe";
    options.volumeSize = 64 * 1024;
    options.splitSize = 100000;
    options.languageFile.clear();

    SetupReport report;
    std::string error;
    ASSERT_TRUE(BuildSetup(options, report, error)) << error;
    ASSERT_GE(report.volumes.size(), 3u);
    EXPECT_EQ(report.volumes[1], folder.Path("setup.exe.002"));
    EXPECT_EQ(report.volumes[2], folder.Path("setup.exe.003"));
    for (size_t i = 0; i < report.volumes.size(); ++i) {
        SCOPED_TRACE(report.volumes[i]);
        const std::string& volume = report.volumes[i];
        EXPECT_LE(fs::file_size(volume), options.volumeSize);
        EXPECT_TRUE(VolumeChecksumMatches(volume));
        const TGFileInfo info(volume);
        EXPECT_EQ(info.Trailer().fileCount, 3u);
        EXPECT_EQ(info.Trailer().dataStart, i == 0 ? 5000u : 0u);
        EXPECT_EQ(info.MultiVolume(), i + 1 < report.volumes.size());
    }
    // Full volumes: all but the last are within a few KiB of the size.
    EXPECT_GT(fs::file_size(report.volumes[1]), options.volumeSize - 4096);

    const Extracted files = ExtractAll(report.volumes);
    EXPECT_FALSE(files.damaged);
    EXPECT_EQ(files.files.at("Engine.exe"), Text(30000, 4));
    EXPECT_EQ(files.files.at("data\\noise.bin"), Noise(150000, 5));
    EXPECT_EQ(files.files.at("data\\text.txt"), Text(400000, 6));
    EXPECT_EQ(files.engines, std::vector<std::string>{"Engine.exe*"});
}

TEST(SetupBuilder, WritesADownloadStubForTheSetupFile) {
    SetupFolder folder("download");
    folder.Write("stub.exe", PeStub(256));
    folder.AddFile("Engine.exe", Text(20000, 8));
    SetupOptions options = folder.Options();
    options.engine = "Engine.exe";
    options.downloadLocation = "http://downloads.example/app";
    options.downloadToken = "shared token";
    options.confirmDownload = true;
    options.downloadStub = folder.Path("websetup.exe");

    SetupReport report;
    std::string error;
    ASSERT_TRUE(BuildSetup(options, report, error)) << error;
    const TGFileInfo stub(options.downloadStub);
    const TGFileInfo setup(options.output);
    EXPECT_TRUE(stub.IsDownloadStub());
    EXPECT_TRUE(stub.ConfirmDownload());
    EXPECT_FALSE(setup.IsDownloadStub());
    EXPECT_EQ(stub.DownloadLocation(), "http://downloads.example/app");
    EXPECT_EQ(stub.SetupFileName(), "setup.exe");
    EXPECT_EQ(stub.SetupFileSize(), std::to_string(fs::file_size(options.output)));
    EXPECT_FALSE(stub.AlwaysDownload());
    EXPECT_TRUE(stub.SameDownloadToken(setup));
    EXPECT_TRUE(IsExecutable(options.downloadStub));
    EXPECT_EQ(RecordedEnd(options.downloadStub), fs::file_size(options.downloadStub));
    EXPECT_TRUE(VolumeChecksumMatches(options.downloadStub));
    EXPECT_EQ(ExtractAll({options.downloadStub}).entries, 0);

    // A setup file built for another token does not belong to this stub.
    options.downloadToken = "other token";
    options.output = folder.Path("other.exe");
    options.downloadStub.clear();
    ASSERT_TRUE(BuildSetup(options, report, error)) << error;
    EXPECT_FALSE(stub.SameDownloadToken(TGFileInfo(options.output)));
}

TEST(SetupBuilder, ExecutableStubsGetTheirHeaderAtTheRecordedEndPlace) {
    for (const uint32_t peOffset : {0x80u, 256u, 0x140u}) {
        SCOPED_TRACE(peOffset);
        SetupFolder folder("executable");
        const std::string original = PeStub(peOffset);
        folder.Write("stub.exe", original);
        folder.AddFile("Engine.exe", Text(3000, 9));
        SetupOptions options = folder.Options();
        options.engine = "Engine.exe";
        SetupReport report;
        std::string error;
        ASSERT_TRUE(BuildSetup(options, report, error)) << error;

        const std::string setup = SetupFolder::Read(options.output);
        EXPECT_TRUE(IsExecutable(options.output));
        EXPECT_EQ(setup.substr(256, 24 + 224 + 40), original.substr(peOffset, 24 + 224 + 40));
        EXPECT_EQ(setup.substr(0x3C, 4), std::string("\0\1\0\0", 4));
        EXPECT_EQ(setup.substr(0x40, 16), "DOS stub code!!!");
        EXPECT_EQ(setup.substr(0x400, 0x200), original.substr(0x400, 0x200));
        EXPECT_EQ(RecordedEnd(options.output), setup.size());
        EXPECT_TRUE(VolumeChecksumMatches(options.output));

        // Signing appends data after the package: it is still found and still checks out.
        folder.Write("setup.exe", setup + std::string(4000, '\xA5'));
        EXPECT_EQ(ReadTrailer(options.output).packageEnd, setup.size());
        EXPECT_TRUE(VolumeChecksumMatches(options.output));
        EXPECT_EQ(ExtractAll({options.output}).files.at("Engine.exe"), Text(3000, 9));
    }
}

TEST(SetupBuilder, RefusesWhatItCannotBuild) {
    SetupFolder folder("refusals");
    folder.Write("stub.exe", "stub");
    folder.Write("crowded.exe", PeStub(0x80, 0x180)); // headers must end by 0x180
    folder.Write("bad-lang.txt", "s0=before any section\n");
    folder.AddFile("Engine.exe", "engine");
    folder.AddFile("other.exe", "other");

    const std::vector<std::pair<std::string, std::function<void(SetupOptions&)>>> cases = {
        {"engine", [](SetupOptions& o) { o.engine = "Missing.exe"; }},
        {"the stub's PE headers", [&](SetupOptions& o) { o.stub = folder.Path("crowded.exe"); }},
        {"cannot read the stub", [&](SetupOptions& o) { o.stub = folder.Path("none.exe"); }},
        {"no such folder", [&](SetupOptions& o) { o.files = folder.Path("nothing"); }},
        {"line 1", [&](SetupOptions& o) { o.languageFile = folder.Path("bad-lang.txt"); }},
        {"volume size", [](SetupOptions& o) { o.volumeSize = 100; }},
        {"too little room", [](SetupOptions& o) { o.volumeSize = 4 + 8 + 74 + 20; }},
        {"split size", [](SetupOptions& o) { o.splitSize = 10; }},
        {"download location", [&](SetupOptions& o) { o.downloadStub = folder.Path("d.exe"); }},
        {"single-volume",
         [&](SetupOptions& o) {
             o.downloadLocation = "http://x";
             o.downloadStub = folder.Path("d.exe");
             o.volumeSize = 1 << 20;
         }},
    };
    for (const auto& [message, change] : cases) {
        SCOPED_TRACE(message);
        SetupOptions options = folder.Options();
        options.engine = "Engine.exe";
        change(options);
        SetupReport report;
        std::string error;
        EXPECT_FALSE(BuildSetup(options, report, error));
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
}

TEST(SetupBuilder, NeverPacksItsOwnOutput) {
    SetupFolder folder("own-output");
    folder.Write("stub.exe", "stub");
    folder.AddFile("Engine.exe", "engine");
    folder.AddFile("setup.exe.1st", "an ordinary file with a similar name");
    SetupOptions options = folder.Options();
    options.engine = "Engine.exe";
    options.output = folder.Path("files/setup.exe");
    folder.AddFile("setup.exe", "old setup");
    folder.AddFile("setup.exe.002", "old volume");

    SetupReport report;
    std::string error;
    ASSERT_TRUE(BuildSetup(options, report, error)) << error;
    const Extracted files = ExtractAll(report.volumes);
    EXPECT_EQ(files.files.size(), 2u);
    EXPECT_EQ(files.files.count("setup.exe.1st"), 1u);
    EXPECT_EQ(TGFileInfo(options.output).Trailer().fileCount, 2u);
}

TEST(SetupBuilder, DosDatesAndVolumeNames) {
    EXPECT_EQ(DosDateTime(1980, 1, 1, 0, 0, 0), 0x00210000u);
    EXPECT_EQ(DosDateTime(2021, 6, 15, 13, 45, 31), ExpectedDos(2021, 6, 15, 13, 45, 31));
    EXPECT_EQ(DosDateTime(2107, 12, 31, 23, 59, 59), 0xFF9FBF7Du);
    EXPECT_EQ(DosDateTime(1979, 12, 31, 23, 59, 59), 0u);
    EXPECT_EQ(VolumeName("setup.exe", 2), "setup.exe.002");
    EXPECT_EQ(VolumeName("setup.exe", 1234), "setup.exe.1234");
}
