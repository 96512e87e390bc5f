#include "stub/core/PackageFormat.h"

#include "tests/core/PackageFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

std::string Words(std::initializer_list<uint32_t> words) {
    std::string bytes;
    for (const uint32_t word : words) {
        bytes += PackageFixture::Le32(word);
    }
    return bytes;
}

std::string RepeatedWord(uint32_t word, size_t count) {
    std::string bytes;
    for (size_t i = 0; i < count; ++i) {
        bytes += PackageFixture::Le32(word);
    }
    return bytes;
}

TrailerLocation Read(const std::string& bytes) {
    MemorySource source(bytes);
    return ReadTrailer(source);
}

uint32_t Checksum(const std::string& bytes, uint32_t trailerLength = kTrailerSize) {
    MemorySource source(bytes);
    return PackageChecksum(source, trailerLength);
}

fs::path TempFile(const std::string& name) {
    return fs::temp_directory_path() / ("sw_core_" + name);
}

} // namespace

TEST(Trailer, EveryFieldSurvivesEncodeAndDecode) {
    TPackageTrailer trailer;
    trailer.version = 1;
    trailer.blockCount = 3;
    trailer.dataStart = 0x01020304;
    trailer.fileCount = 0x05060708;
    trailer.magic = kPackageMagic;
    trailer.checksum = 0x90A0B0C0;
    for (int i = 0; i < kSpaceTableSize; ++i) {
        trailer.space[i] = 0x11111111u * (i + 1);
    }
    trailer.flags = 0x1F;
    trailer.downloadStub = 1;
    trailer.confirmDownload = 2;
    trailer.hasAgent = 3;
    trailer.isAgent = 4;
    trailer.trailerLength = kTrailerSize;

    const std::string bytes = EncodeTrailer(trailer);
    ASSERT_EQ(bytes.size(), kTrailerSize);
    EXPECT_EQ(bytes.substr(12, 4), PackageFixture::Le32(kPackageMagic)); // fixed offsets
    EXPECT_EQ(static_cast<uint8_t>(bytes[65]), 0x1F);
    EXPECT_EQ(bytes.substr(70), PackageFixture::Le32(kTrailerSize));

    const TPackageTrailer back = DecodeTrailer(bytes);
    EXPECT_EQ(back.version, 1);
    EXPECT_EQ(back.blockCount, 3);
    EXPECT_EQ(back.dataStart, trailer.dataStart);
    EXPECT_EQ(back.fileCount, trailer.fileCount);
    EXPECT_TRUE(back.HasMagic());
    EXPECT_EQ(back.checksum, trailer.checksum);
    EXPECT_EQ(back.space, trailer.space);
    EXPECT_EQ(back.flags, 0x1F);
    EXPECT_EQ(back.downloadStub, 1);
    EXPECT_EQ(back.confirmDownload, 2);
    EXPECT_EQ(back.hasAgent, 3);
    EXPECT_EQ(back.isAgent, 4);
}

TEST(Trailer, BlockCountZeroReadsAsTwo) {
    PackageFixture package;
    package.trailer.blockCount = 0;
    const TrailerLocation location = Read(package.Bytes());
    ASSERT_TRUE(location.found);
    EXPECT_EQ(location.trailer.blockCount, 2);
}

TEST(Trailer, ShorterTrailerLeavesLaterFieldsZero) {
    // An old 40-byte trailer: the fields up to offset 36 and then its length.
    TPackageTrailer fields;
    fields.magic = kPackageMagic;
    fields.dataStart = 0;
    fields.space.fill(7);
    fields.flags = tfMultiVolume;
    std::string bytes = EncodeTrailer(fields).substr(0, 36) + PackageFixture::Le32(40);
    const TrailerLocation location = Read(bytes);
    ASSERT_TRUE(location.found);
    EXPECT_EQ(location.trailer.trailerLength, 40u);
    EXPECT_TRUE(location.trailer.HasMagic());
    EXPECT_EQ(location.trailer.space[1], 7u);
    EXPECT_EQ(location.trailer.space[2], 0u); // offset 36 lies past the 36 bytes read
    EXPECT_EQ(location.trailer.flags, 0);
}

TEST(Trailer, LongerTrailerIsReadFromItsStart) {
    PackageFixture package;
    package.trailer.fileCount = 9;
    std::string bytes = package.Bytes();
    // Grow the trailer by 6 bytes in front of its length field.
    bytes.insert(bytes.size() - 4, "extra!");
    bytes.replace(bytes.size() - 4, 4, PackageFixture::Le32(80));
    const TrailerLocation location = Read(bytes);
    ASSERT_TRUE(location.found);
    EXPECT_EQ(location.trailer.trailerLength, kTrailerSize);
    EXPECT_EQ(location.trailer.fileCount, 9u);
    EXPECT_EQ(location.trailerStart, bytes.size() - 80);
}

TEST(Trailer, PackageEndFollowsTheRecordedEnd) {
    const std::string signature(300, 'S');
    struct Case {
        const char* name;
        bool executable;
        bool recordEnd;
        bool appendSignature;
        bool expectMagic;
    } cases[] = {
        {"plain file", false, false, false, true},
        {"executable, recorded end zero", true, false, false, true},
        {"executable, signature after the recorded end", true, true, true, true},
        {"executable, recorded end zero, signature appended", true, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PackageFixture package;
        package.AddText("languages");
        package.AddText("agents");
        package.prefix = c.executable ? PackageFixture::ExecutablePrefix(0) : std::string(512, 'x');
        const size_t end = package.Bytes().size();
        if (c.recordEnd) {
            package.prefix = PackageFixture::ExecutablePrefix(end);
        }
        if (c.appendSignature) {
            package.suffix = signature;
        }
        MemorySource source(package.Bytes());
        EXPECT_EQ(IsExecutable(source), c.executable);
        EXPECT_EQ(RecordedEnd(source), c.recordEnd ? end : 0u);
        const TrailerLocation location = ReadTrailer(source);
        EXPECT_EQ(location.trailer.HasMagic(), c.expectMagic);
        if (c.expectMagic) {
            EXPECT_EQ(location.packageEnd, end);
            EXPECT_EQ(location.trailerStart, end - kTrailerSize);
        }
    }
}

TEST(Trailer, ImpossibleLengthsAndEndsLeaveAnEmptyRecord) {
    PackageFixture package;
    const std::string good = package.Bytes();
    auto withLength = [&](uint32_t length) {
        std::string bytes = good;
        bytes.replace(bytes.size() - 4, 4, PackageFixture::Le32(length));
        return bytes;
    };
    PackageFixture beyond;
    beyond.prefix = PackageFixture::ExecutablePrefix(1u << 20);
    PackageFixture highWord;
    highWord.prefix = PackageFixture::ExecutablePrefix(uint64_t{1} << 32 | 600);

    const std::pair<const char*, std::string> cases[] = {
        {"empty file", ""},
        {"three bytes", "abc"},
        {"length 0", withLength(0)},
        {"length 3", withLength(3)},
        {"length one past the file", withLength(static_cast<uint32_t>(good.size() + 1))},
        {"length 0x7FFFFFFF", withLength(0x7FFFFFFF)},
        {"length 0xFFFFFFFF", withLength(0xFFFFFFFF)},
        {"recorded end beyond the file", beyond.Bytes()},
        {"recorded end with a high word beyond the file", highWord.Bytes()},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        const TrailerLocation location = Read(bytes);
        EXPECT_FALSE(location.found);
        EXPECT_FALSE(location.trailer.HasMagic());
        EXPECT_EQ(location.trailer.flags, 0);
        EXPECT_EQ(location.trailer.dataStart, 0u);
    }
}

TEST(Checksum, SumsTheWordsBeforeTheTrailer) {
    // The sum stops two words short of the trailer and adds 1234 after every full
    // 4096-byte read that still leaves more than 4 bytes of budget.
    PackageFixture small;
    small.prefix = Words({1, 2, 3, 4});
    small.blocks.clear();
    EXPECT_EQ(Checksum(small.Bytes()), 3u); // 1 + 2; 3 and 4 lie within 8 bytes of the trailer

    PackageFixture twoBlocks;
    twoBlocks.prefix = RepeatedWord(1, 2048); // 8192 bytes
    // Block 1: 1024 words and +1234; block 2: words 1025..2046 count, budget then exhausted.
    EXPECT_EQ(Checksum(twoBlocks.Bytes()), 1024u + 1234u + 1022u);

    PackageFixture signedExe;
    const std::string body = Words({1, 1, 5, 5});
    signedExe.prefix = PackageFixture::ExecutablePrefix(512 + body.size() + kTrailerSize) + body;
    signedExe.suffix = RepeatedWord(0xFFFFFFFF, 100);
    // The first 512 bytes (with the recorded end) and the signature are not summed.
    EXPECT_EQ(Checksum(signedExe.Bytes()), 2u);
}

TEST(Checksum, AcceptanceAndTheNotCheckedValue) {
    EXPECT_TRUE(ChecksumAccepted(77, 77));
    EXPECT_FALSE(ChecksumAccepted(77, 78));
    EXPECT_TRUE(ChecksumAccepted(kUncheckedSum, 78));
    EXPECT_TRUE(ChecksumAccepted(77, kUncheckedSum));
}

TEST(Checksum, FilesOverFiftyMebibytesAreNotSummed) {
    const fs::path path = TempFile("large.bin");
    { std::ofstream create(path, std::ios::binary); }
    fs::resize_file(path, kChecksumSizeLimit);
    // 12800 full reads of zeros; all but the last leave budget: 12799 * 1234.
    EXPECT_EQ(PackageChecksum(path.string(), kTrailerSize), 12799u * 1234u);
    fs::resize_file(path, kChecksumSizeLimit + 1);
    EXPECT_EQ(PackageChecksum(path.string(), kTrailerSize), kUncheckedSum);
    fs::remove(path);
}

TEST(PackageFile, MissingFileReadsAsNoPackage) {
    const std::string missing = TempFile("does-not-exist.exe").string();
    EXPECT_FALSE(IsExecutable(missing));
    EXPECT_EQ(RecordedEnd(missing), 0u);
    EXPECT_FALSE(ReadTrailer(missing).found);
}
