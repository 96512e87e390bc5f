#include "stub/core/PackageBlocks.h"

#include "tests/core/PackageFixture.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace {

std::string Deflate(const std::string& raw) {
    std::string packed(compressBound(static_cast<uLong>(raw.size())), '\0');
    uLongf size = static_cast<uLongf>(packed.size());
    compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
              reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()), 9);
    packed.resize(size);
    return packed;
}

PackageBlock Zlib(const std::string& raw) {
    const std::string packed = Deflate(raw);
    return {static_cast<int32_t>(packed.size()), packed};
}

PackageBlock Stored(const std::string& raw) {
    return {-static_cast<int32_t>(raw.size()), raw};
}

struct Entry {
    EntryStatus status;
    FileEntryHeader header;
    std::string content;
    int pieces = 0;
};

Entry Read(const PackageBlock& block) {
    Entry entry;
    entry.status = ReadFileEntry(block, entry.header, [&entry](const char* data, size_t size) {
        entry.content.append(data, size);
        ++entry.pieces;
        return true;
    });
    return entry;
}

std::string Content(size_t size) {
    std::string text;
    for (size_t i = 0; text.size() < size; ++i) {
        text += "line " + std::to_string(i * 7919 % 10007) + "\r\n";
    }
    text.resize(size);
    return text;
}

} // namespace

TEST(FileEntry, ZlibAndStoredEntriesGiveHeaderAndContent) {
    const std::string content = Content(300000); // several inflate pieces
    const std::string raw = "|data\\table.bin|1479754917|" + std::string(1, '\0') + content;
    for (const PackageBlock& block : {Zlib(raw), Stored(raw)}) {
        SCOPED_TRACE(block.length);
        const Entry entry = Read(block);
        ASSERT_EQ(entry.status, EntryStatus::esOk);
        EXPECT_EQ(entry.header.name, "data\\table.bin");
        EXPECT_FALSE(entry.header.isEngine);
        EXPECT_EQ(entry.header.dosDateTime, 1479754917u);
        EXPECT_EQ(entry.content, content);
    }
    EXPECT_GT(Read(Zlib(raw)).pieces, 1);
}

TEST(FileEntry, EngineMarkAndParameters) {
    const std::pair<std::string, FileEntryHeader> cases[] = {
        {"|Engine.exe*|0|", {"Engine.exe", true, "", 0}},
        {"|Engine.exe*/S /LANG=de|1|", {"Engine.exe", true, "/S /LANG=de", 1}},
        {"|readme.txt|4294967295|", {"readme.txt", false, "", 0xFFFFFFFF}},
        {"|readme.txt|not a date|", {"readme.txt", false, "", 0}},
        {"|readme.txt|4294967296|", {"readme.txt", false, "", 0}},
    };
    for (const auto& [text, expected] : cases) {
        const FileEntryHeader header = ParseEntryHeader(text);
        EXPECT_EQ(header.name, expected.name) << text;
        EXPECT_EQ(header.isEngine, expected.isEngine) << text;
        EXPECT_EQ(header.parameters, expected.parameters) << text;
        EXPECT_EQ(header.dosDateTime, expected.dosDateTime) << text;
        EXPECT_EQ(ParseEntryHeader(MakeEntryHeader(header)).parameters, expected.parameters);
    }
    // Parameters holding the list's delimiter survive a round trip.
    const FileEntryHeader piped{"Engine.exe", true, "/A|B", 3};
    EXPECT_EQ(ParseEntryHeader(MakeEntryHeader(piped)).parameters, "/A|B");
}

TEST(FileEntry, DamagedEntriesAreReported) {
    const std::string raw = "|a.txt|0|" + std::string(1, '\0') + Content(100000);
    PackageBlock truncated = Zlib(raw);
    truncated.bytes.resize(truncated.bytes.size() / 2);
    PackageBlock flipped = Zlib(raw);
    flipped.bytes[flipped.bytes.size() / 2] ^= 0x55;

    EXPECT_EQ(Read(Stored("|no-nul|0|")).status, EntryStatus::esNoHeader);
    EXPECT_EQ(Read(Zlib("|no-nul|0|")).status, EntryStatus::esNoHeader);
    EXPECT_EQ(Read(Zlib(std::string(200000, 'h'))).status, EntryStatus::esNoHeader);
    EXPECT_EQ(Read(truncated).status, EntryStatus::esCorrupt);
    EXPECT_EQ(Read(flipped).status, EntryStatus::esCorrupt);
    EXPECT_EQ(Read(PackageBlock{5, "junk!"}).status, EntryStatus::esNoHeader);

    FileEntryHeader header;
    EXPECT_EQ(ReadFileEntry(Zlib(raw), header, [](const char*, size_t) { return false; }),
              EntryStatus::esStopped);
}

TEST(BlockReader, WalksTheDataAreaAndStopsAtALengthThatDoesNotFit) {
    PackageFixture package;
    package.prefix = "stub";
    package.AddText("one");
    package.blocks.emplace_back(-3, "two");
    package.blocks.emplace_back(0, "");
    package.blocks.emplace_back(1000, "three");
    const std::string bytes = package.Bytes();
    MemorySource source(bytes);
    PackageBlockReader reader(source, 4, bytes.size() - kTrailerSize);

    PackageBlock block;
    ASSERT_TRUE(reader.Next(block));
    EXPECT_EQ(block.bytes, "one");
    ASSERT_TRUE(reader.Next(block));
    EXPECT_EQ(block.length, -3);
    EXPECT_EQ(block.bytes, "two");
    ASSERT_TRUE(reader.Next(block));
    EXPECT_EQ(block.bytes, "");
    EXPECT_FALSE(reader.Next(block)); // 1000 bytes claimed, 5 there
    EXPECT_TRUE(reader.Truncated());
    EXPECT_EQ(reader.Position(), 4u + 7 + 7 + 4);

    PackageBlockReader whole(source, 4, 4 + 7 + 7 + 4);
    int count = 0;
    while (whole.Next(block)) {
        ++count;
    }
    EXPECT_EQ(count, 3);
    EXPECT_FALSE(whole.Truncated());
}
