// The INFO list and DISP chunk bodies, as other programs write them and as we write them.
#include "generator/wavefile/MMRIFF.h"

#include <gtest/gtest.h>

namespace {

const TFourCC kName = MakeFourCC('I', 'N', 'A', 'M');
const TFourCC kArtist = MakeFourCC('I', 'A', 'R', 'T');
const TFourCC kComment = MakeFourCC('I', 'C', 'M', 'T');

std::vector<uint8_t> Entry(const char* id, uint32_t size, const std::string& payload) {
    std::vector<uint8_t> bytes(id, id + 4);
    for (int i = 0; i < 4; ++i) {
        bytes.push_back(static_cast<uint8_t>(size >> (8 * i)));
    }
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

} // namespace

TEST(InfoList, SerializedBodyIsPaddedAndParsesBack) {
    TMMInfoList list;
    ASSERT_TRUE(list.SetText(kName, "Tone"));    // 5 bytes with its zero: padded
    ASSERT_TRUE(list.SetText(kArtist, "Bench")); // 6 bytes: no pad
    EXPECT_FALSE(list.SetText(MakeFourCC('X', 'Y', 'Z', 'W'), "ignored"));

    const std::vector<uint8_t> body = list.Serialize();
    // Written in the order of the identifier table: IART before INAM.
    const std::vector<uint8_t> expected = Concat({Entry("IART", 6, std::string("Bench\0", 6)),
                                                  Entry("INAM", 5, std::string("Tone\0\0", 6))});
    EXPECT_EQ(body, expected);

    TMMInfoList back;
    back.Parse(body.data(), body.size());
    EXPECT_EQ(back.Text(kName), "Tone");
    EXPECT_EQ(back.Text(kArtist), "Bench");
    EXPECT_TRUE(TMMInfoList().Serialize().empty());
}

TEST(InfoList, ParsesWhatOtherWritersLeave) {
    struct Case {
        const char* what;
        std::vector<uint8_t> body;
        std::string name, comment;
    };
    const Case cases[] = {
        {"unknown ids are skipped",
         Concat(
             {Entry("ZZZZ", 3, std::string("ab\0\0", 4)), Entry("INAM", 2, std::string("x\0", 2))}),
         "x", ""},
        {"text without its zero", Concat({Entry("INAM", 3, "abc"), std::vector<uint8_t>{0}}), "abc",
         ""},
        {"last pad byte missing",
         Concat({Entry("ICMT", 2, std::string("c\0", 2)), Entry("INAM", 3, "abc")}), "abc", "c"},
        {"entry claiming more than is there ends the list",
         Concat({Entry("ICMT", 2, std::string("c\0", 2)), Entry("INAM", 0xFFFFFFF0u, "abc")}), "",
         "c"},
        {"trailing bytes shorter than a header",
         Concat({Entry("INAM", 2, std::string("n\0", 2)), {1, 2, 3}}), "n", ""},
    };
    for (const Case& c : cases) {
        TMMInfoList list;
        list.Parse(c.body.data(), c.body.size());
        EXPECT_EQ(list.Text(kName), c.name) << c.what;
        EXPECT_EQ(list.Text(kComment), c.comment) << c.what;
    }
}

TEST(DispChunk, TextGetsItsZeroAndOnlyTextAndBitmapsAreWritten) {
    TMMDispChunk text{dtText, {'H', 'i'}};
    EXPECT_TRUE(IsWritableDisp(text));
    EXPECT_EQ(SerializeDispChunk(text), (std::vector<uint8_t>{1, 0, 0, 0, 'H', 'i', 0}));
    EXPECT_FALSE(IsWritableDisp(TMMDispChunk{dtText, {}}));
    EXPECT_FALSE(IsWritableDisp(TMMDispChunk{3, {1}}));

    TMMDispChunk parsed;
    const std::vector<uint8_t> body{8, 0, 0, 0, 0xAA, 0xBB};
    ASSERT_TRUE(ParseDispChunk(body.data(), body.size(), parsed));
    EXPECT_EQ(parsed.Type, uint32_t(dtBitmap));
    EXPECT_EQ(parsed.Data, (std::vector<uint8_t>{0xAA, 0xBB}));
    EXPECT_FALSE(ParseDispChunk(body.data(), 3, parsed));
}
