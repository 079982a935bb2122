#include "workbook/xls/biff.h"

#include <gtest/gtest.h>

namespace vi2zezir::workbook::biff {
namespace {

std::vector<std::uint8_t> Record(std::uint16_t opcode, std::vector<std::uint8_t> data) {
    std::vector<std::uint8_t> out{static_cast<std::uint8_t>(opcode), static_cast<std::uint8_t>(opcode >> 8),
                                  static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(data.size() >> 8)};
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

TEST(RecordReader, WalksRecordsAndStopsAtAClaimPastTheEnd) {
    auto stream = Record(0x0809, {1, 2, 3});
    auto second = Record(0x000A, {});
    stream.insert(stream.end(), second.begin(), second.end());
    stream.insert(stream.end(), {0x03, 0x02, 0x10, 0x00, 0xAA}); // claims 16, has 1

    RecordReader reader(stream);
    ASSERT_TRUE(reader.Next());
    EXPECT_EQ(reader.Current().opcode, 0x0809);
    EXPECT_EQ(reader.Current().data.size(), 3u);
    ASSERT_TRUE(reader.Next());
    EXPECT_EQ(reader.Current().opcode, 0x000A);
    EXPECT_EQ(reader.Current().offset, 7u);
    EXPECT_EQ(reader.PeekOpcode(), 0xFFFF);
    EXPECT_FALSE(reader.Next());
    EXPECT_FALSE(reader.Valid());
    EXPECT_FALSE(reader.Next()); // sticky
}

TEST(RecordReader, RefusesRecordsLongerThanTheFormatAllows) {
    std::vector<std::uint8_t> stream{0x01, 0x00, 0x21, 0x20}; // 8225 bytes
    stream.resize(4 + 8225);
    RecordReader reader(stream);
    EXPECT_FALSE(reader.Next());
    EXPECT_FALSE(reader.Valid());
}

TEST(RecordCursor, ShortReadsAreStickyAndYieldZero) {
    const std::vector<std::uint8_t> data{0x34, 0x12, 0x01};
    RecordCursor cursor(data);
    EXPECT_EQ(cursor.U16(), 0x1234);
    EXPECT_EQ(cursor.U32(), 0u);
    EXPECT_FALSE(cursor.Ok());
    EXPECT_EQ(cursor.U8(), 0);
    EXPECT_FALSE(cursor.Ok());
}

TEST(RecordCursor, CharactersContinueWithAFreshFlagByte) {
    // "AB" compressed in the record, then "C€" as UTF-16 in the CONTINUE.
    const std::vector<std::uint8_t> first{0x04, 0x00, 0x00, 'A', 'B'};
    const std::vector<std::uint8_t> cont{0x01, 'C', 0x00, 0xAC, 0x20, 0x07};
    RecordCursor cursor(first);
    cursor.AddContinue(cont);
    EXPECT_EQ(ReadUnicodeString(cursor), u"ABC\u20AC");
    EXPECT_EQ(cursor.U8(), 0x07); // fields after the string run on normally
    EXPECT_TRUE(cursor.AtEnd());
}

TEST(RecordCursor, HugeClaimedLengthFailsWithoutAllocating) {
    const std::vector<std::uint8_t> data{0xFF, 0xFF, 0x00, 'A'};
    RecordCursor cursor(data);
    EXPECT_EQ(ReadUnicodeString(cursor), u"");
    EXPECT_FALSE(cursor.Ok());
}

TEST(ContinuableWriter, SplitsStringsWithTheHeaderAndFirstCharacterTogether) {
    StreamWriter out;
    std::vector<RichString> strings;
    for (int i = 0; i < 40; ++i) {
        RichString s;
        s.text = std::u16string(300 + i, static_cast<char16_t>(i % 2 ? u'x' : u'\u0416'));
        if (i % 5 == 0) s.runs = {0, 0, 1, 0, 4, 0, 2, 0};
        strings.push_back(s);
    }
    {
        ContinuableWriter w(out, op::kSst);
        w.U32(40);
        w.U32(40);
        for (const auto& s : strings) w.RichStringEntry(s);
    }
    // Read back through the ordinary reader and cursor.
    RecordReader reader(out.Data());
    ASSERT_TRUE(reader.Next());
    EXPECT_EQ(reader.Current().opcode, op::kSst);
    RecordCursor cursor(reader.Current().data);
    int continues = 0;
    while (reader.PeekOpcode() == op::kContinue && reader.Next()) {
        cursor.AddContinue(reader.Current().data);
        EXPECT_LE(reader.Current().data.size(), kMaxRecordData);
        ++continues;
    }
    EXPECT_GT(continues, 1);
    EXPECT_EQ(cursor.U32(), 40u);
    EXPECT_EQ(cursor.U32(), 40u);
    for (const auto& s : strings) EXPECT_EQ(ReadRichString(cursor), s);
    EXPECT_TRUE(cursor.Ok());
    EXPECT_TRUE(cursor.AtEnd());
}

TEST(StreamWriter, LongPayloadsGoOnInContinueRecords) {
    StreamWriter out;
    std::vector<std::uint8_t> payload(20000, 0x5A);
    out.Write(0x00EC, payload);
    RecordReader reader(out.Data());
    std::vector<std::uint16_t> opcodes;
    std::size_t total = 0;
    while (reader.Next()) {
        opcodes.push_back(reader.Current().opcode);
        total += reader.Current().data.size();
    }
    EXPECT_EQ(opcodes, (std::vector<std::uint16_t>{0x00EC, 0x003C, 0x003C}));
    EXPECT_EQ(total, payload.size());
}

} // namespace
} // namespace vi2zezir::workbook::biff
