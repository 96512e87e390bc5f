#include "stub/core/GFileInfo.h"

#include "stub/core/HiddenValue.h"
#include "tests/core/PackageFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace {

// Hidden values made by hand: "TOKEN" twice with different masks and padding, "OTHER", "AGENT-7".
const char kToken[] = "ccececkkjjhiiuijihivxxbedd";
const char kTokenAgain[] = "gskskskjktksuvvhvdvuvikbkbhhue";
const char kOther[] = "ccececkkjjiuhiitihhcxxwsdd";
const char kAgentToken[] = "eeihighiehebedekdegsfbgiswff";

const std::string kLanguages = "\x02\x01"
                               "English\x01s0=Setup\x01\x02";

PackageFixture FullPackage(const std::string& downloadToken = kToken) {
    PackageFixture package;
    package.prefix = std::string(100, 'p');
    package.AddText(kLanguages);
    package.AddText(std::string("|http://updates.example/app|C:\\Program Files\\App\\app.info.ini|"
                                "AppAgent.exe|") +
                    kAgentToken + "|1|");
    package.AddText("|http://downloads.example/app|setup.exe|1|" + downloadToken + "|5242880|");
    package.AddText("file entries are not read here");
    package.trailer.blockCount = 3;
    package.trailer.fileCount = 12;
    for (int i = 0; i < kSpaceTableSize; ++i) {
        package.trailer.space[i] = 1000u + i;
    }
    return package;
}

TGFileInfo Info(const std::string& bytes) {
    MemorySource source(bytes);
    return TGFileInfo(source);
}

void ExpectNoPackage(const TGFileInfo& info) {
    EXPECT_EQ(info.Trailer().flags, 0);
    EXPECT_FALSE(info.IsDownloadStub());
    EXPECT_FALSE(info.HasAgent());
    EXPECT_EQ(info.SpaceNeededForCluster(4096), 0u);
    EXPECT_EQ(info.LanguageBlock(), "");
    EXPECT_EQ(info.AgentList(), "");
    EXPECT_EQ(info.DownloadList(), "");
}

} // namespace

TEST(GFileInfo, AnswersEveryQueryFromTheTrailerAndLists) {
    PackageFixture package = FullPackage();
    package.trailer.flags = tfAnnounceTempDrive | tfRunFromCopy | tfAgentLog;
    package.trailer.downloadStub = 1;
    package.trailer.hasAgent = 1;
    const TGFileInfo info = Info(package.Bytes());

    EXPECT_EQ(info.LanguageBlock(), kLanguages);
    EXPECT_EQ(info.Trailer().fileCount, 12u);
    EXPECT_TRUE(info.AnnounceTempDrive());
    EXPECT_FALSE(info.MultiVolume());
    EXPECT_TRUE(info.RunFromCopy());
    EXPECT_FALSE(info.ShowActivityBar());
    EXPECT_TRUE(info.AgentLogEnabled());
    EXPECT_TRUE(info.IsDownloadStub());
    EXPECT_FALSE(info.ConfirmDownload());
    EXPECT_TRUE(info.HasAgent());
    EXPECT_FALSE(info.IsAgent());

    EXPECT_EQ(info.DownloadLocation(), "http://downloads.example/app");
    EXPECT_EQ(info.SetupFileName(), "setup.exe");
    EXPECT_EQ(info.SetupFileSize(), "5242880");
    EXPECT_TRUE(info.AlwaysDownload());
    EXPECT_EQ(info.DownloadToken(false), kToken);
    EXPECT_EQ(info.DownloadToken(true), "TOKEN");

    EXPECT_EQ(info.UpdateLocation(), "http://updates.example/app");
    EXPECT_EQ(info.AgentName(), "AppAgent.exe");
    EXPECT_EQ(info.AgentToken(false), kAgentToken);
    EXPECT_EQ(info.AgentToken(true), "AGENT-7");
    EXPECT_EQ(info.InfoFileName(), "app.info.ini");
    EXPECT_EQ(info.OriginalFileName(), "app.info.original");
    EXPECT_TRUE(info.BackgroundInstall());
}

TEST(GFileInfo, TheOtherFlagsAndBytes) {
    PackageFixture package = FullPackage();
    package.trailer.flags = tfMultiVolume | tfShowActivityBar;
    package.trailer.confirmDownload = 1;
    package.trailer.isAgent = 1;
    package.trailer.downloadStub = 2; // only 1 means yes
    const TGFileInfo info = Info(package.Bytes());
    EXPECT_FALSE(info.AnnounceTempDrive());
    EXPECT_TRUE(info.MultiVolume());
    EXPECT_FALSE(info.RunFromCopy());
    EXPECT_TRUE(info.ShowActivityBar());
    EXPECT_FALSE(info.AgentLogEnabled());
    EXPECT_TRUE(info.ConfirmDownload());
    EXPECT_TRUE(info.IsAgent());
    EXPECT_FALSE(info.IsDownloadStub());
}

TEST(GFileInfo, SpaceNeededPicksTheEntryOfTheClusterSize) {
    const TGFileInfo info = Info(FullPackage().Bytes());
    const std::pair<uint32_t, uint32_t> cases[] = {
        {0, 1000},    {511, 1000},  {512, 1001},   {1024, 1002},  {3000, 1003},
        {4096, 1004}, {8192, 1005}, {32768, 1007}, {65536, 1008}, {1u << 20, 1008},
    };
    for (const auto& [cluster, expected] : cases) {
        EXPECT_EQ(info.SpaceNeededForCluster(cluster), expected) << "cluster " << cluster;
    }
}

#ifdef _WIN32
TEST(GFileInfo, SpaceNeededForAFolderUsesItsDrivesClusterSize) {
    const TGFileInfo info = Info(FullPackage().Bytes());
    const uint32_t need = info.SpaceNeeded(fs::temp_directory_path().string());
    EXPECT_GE(need, 1001u); // a drive that answers has a cluster size
    EXPECT_LE(need, 1008u);
    EXPECT_EQ(info.SpaceNeeded("?:\\nowhere"), 1000u); // unknown: the plain total
}
#endif

TEST(GFileInfo, ListsAreReadAsTheBlockCountSays) {
    PackageFixture package = FullPackage();
    package.trailer.blockCount = 0; // reads as 2: the third block is a file entry
    TGFileInfo info = Info(package.Bytes());
    EXPECT_EQ(info.Trailer().blockCount, 2);
    EXPECT_EQ(info.AgentName(), "AppAgent.exe");
    EXPECT_EQ(info.DownloadList(), "");
    EXPECT_FALSE(info.AlwaysDownload());

    // Only the two text blocks, directly followed by the trailer.
    PackageFixture bare;
    bare.AddText(kLanguages);
    bare.AddText("|u|info.ini|Agent.exe|t|0|");
    info = Info(bare.Bytes());
    EXPECT_EQ(info.LanguageBlock(), kLanguages);
    EXPECT_EQ(info.InfoFileName(), "info.ini");
    EXPECT_EQ(info.OriginalFileName(), "info.original");
    EXPECT_FALSE(info.BackgroundInstall());
}

TEST(GFileInfo, FileNamesOfTheInformationFile) {
    const std::pair<std::string, std::pair<std::string, std::string>> cases[] = {
        {"info.ini", {"info.ini", "info.original"}},
        {"C:\\x.y\\update", {"update", "update.original"}},
        {"http://host/dir/news.txt", {"news.txt", "news.original"}},
        {"", {"", ".original"}},
    };
    for (const auto& [field, expected] : cases) {
        PackageFixture package;
        package.AddText("");
        package.AddText("|loc|" + field + "|Agent.exe|");
        const TGFileInfo info = Info(package.Bytes());
        EXPECT_EQ(info.InfoFileName(), expected.first) << field;
        EXPECT_EQ(info.OriginalFileName(), expected.second) << field;
    }
}

TEST(GFileInfo, SameDownloadTokenComparesDecodedTokens) {
    const TGFileInfo stub = Info(FullPackage(kToken).Bytes());
    EXPECT_TRUE(stub.SameDownloadToken(Info(FullPackage(kTokenAgain).Bytes())));
    EXPECT_FALSE(stub.SameDownloadToken(Info(FullPackage(kOther).Bytes())));
    EXPECT_FALSE(stub.SameDownloadToken(Info("no package at all")));

    // Two files whose tokens do not decode never match, even when the failure numbers agree.
    const auto saved = HiddenValueRandom;
    HiddenValueRandom = [](unsigned) { return 7u; };
    const TGFileInfo broken = Info(FullPackage("junk").Bytes());
    EXPECT_EQ(broken.DownloadToken(true), "7");
    EXPECT_FALSE(broken.SameDownloadToken(Info("no package either")));
    HiddenValueRandom = saved;
}

TEST(GFileInfo, WithoutMagicTheRecordIsKeptButListsAreEmpty) {
    PackageFixture package = FullPackage();
    package.trailer.magic = 0x12345678;
    package.trailer.flags = tfMultiVolume;
    const TGFileInfo info = Info(package.Bytes());
    EXPECT_TRUE(info.MultiVolume());
    EXPECT_EQ(info.LanguageBlock(), "");
    EXPECT_EQ(info.AgentList(), "");
    EXPECT_EQ(info.DownloadList(), "");
}

TEST(GFileInfo, DamagedLayoutsReadAsNoPackage) {
    PackageFixture package = FullPackage();
    package.trailer.flags = 0x1F;
    package.trailer.hasAgent = 1;
    package.trailer.downloadStub = 1;
    const std::string good = package.Bytes();
    const size_t trailerStart = good.size() - kTrailerSize;

    std::string dataStartBeyond = good;
    dataStartBeyond.replace(trailerStart + 4, 4,
                            PackageFixture::Le32(static_cast<uint32_t>(trailerStart + 1)));
    std::string dataStartFar = good;
    dataStartFar.replace(trailerStart + 4, 4, PackageFixture::Le32(0xFFFFFFF0));
    std::string trailerLengthZero = good;
    trailerLengthZero.replace(good.size() - 4, 4, PackageFixture::Le32(0));

    for (const std::string& bytes :
         {dataStartBeyond, dataStartFar, trailerLengthZero, good.substr(0, kTrailerSize - 1)}) {
        ExpectNoPackage(Info(bytes));
    }
}

TEST(GFileInfo, BlockLengthsBeyondTheDataAreMissingText) {
    const int32_t lengths[] = {0x7FFFFFFF, -0x7FFFFFFF - 1, -0x7FFFFFFF, 100000};
    for (const int32_t length : lengths) {
        SCOPED_TRACE(length);
        PackageFixture package = FullPackage();
        package.blocks[1].first = length; // the agent list claims more than the file holds
        const TGFileInfo info = Info(package.Bytes());
        EXPECT_EQ(info.LanguageBlock(), kLanguages);
        EXPECT_EQ(info.AgentList(), "");
        EXPECT_EQ(info.DownloadList(), "");
        EXPECT_EQ(info.AgentName(), "");
    }
    // A negative length of a text block means its absolute value.
    PackageFixture negative = FullPackage();
    negative.blocks[0].first = -static_cast<int32_t>(kLanguages.size());
    EXPECT_EQ(Info(negative.Bytes()).LanguageBlock(), kLanguages);
}

TEST(GFileInfo, EveryTruncationReadsWholeListsOrNone) {
    PackageFixture package = FullPackage();
    package.prefix = PackageFixture::ExecutablePrefix(0, 300);
    const std::string full = package.Bytes();
    const TGFileInfo reference = Info(full);
    for (size_t size = 0; size < full.size(); ++size) {
        const TGFileInfo info = Info(full.substr(0, size));
        for (const auto& [got, whole] :
             {std::make_pair(info.LanguageBlock(), reference.LanguageBlock()),
              std::make_pair(info.AgentList(), reference.AgentList()),
              std::make_pair(info.DownloadList(), reference.DownloadList())}) {
            ASSERT_TRUE(got.empty() || got == whole) << "truncated to " << size;
        }
    }
}

TEST(GFileInfo, RandomDamageNeverReadsOutsideTheFile) {
    std::mt19937 random(12345);
    PackageFixture package = FullPackage();
    package.prefix = PackageFixture::ExecutablePrefix(0, 300);
    const std::string full = package.Bytes();
    for (int round = 0; round < 3000; ++round) {
        std::string bytes = full;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i) {
            // Favour the trailer and the block lengths, where damage changes the layout.
            const size_t at = random() % 2 == 0 ? bytes.size() - 1 - random() % kTrailerSize
                                                : random() % bytes.size();
            bytes[at] = static_cast<char>(random());
        }
        const TGFileInfo info = Info(bytes);
        const size_t listBytes =
            info.LanguageBlock().size() + info.AgentList().size() + info.DownloadList().size();
        ASSERT_LE(listBytes, bytes.size()) << "round " << round;
    }
}

TEST(GFileInfo, ReadsAFileOthersKeepOpenForWriting) {
    const fs::path path = fs::temp_directory_path() / "sw_core_info.exe";
    std::ofstream writer(path, std::ios::binary);
    const std::string bytes = FullPackage().Bytes();
    writer.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    writer.flush();

    const TGFileInfo info(path.string());
    EXPECT_EQ(info.AgentName(), "AppAgent.exe");
    EXPECT_EQ(info.SetupFileName(), "setup.exe");
    writer.close();
    fs::remove(path);

    ExpectNoPackage(TGFileInfo(path.string()));
}
