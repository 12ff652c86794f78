#include <gtest/gtest.h>
#include "server/bbs/UserRecord.h"

namespace {

// Offsets and sizes of the 68 fields as the BBS lays the record out.
struct Expected {
    int offset, size;
};
constexpr Expected kLayout[kUserFieldCount] = {
    {0, 40},   {40, 40},  {80, 40},  {120, 32}, {152, 3},  {155, 10}, {165, 12}, {177, 12},  {189, 8},   {197, 2},
    {199, 40}, {239, 4},  {243, 80}, {323, 2},  {325, 4},  {329, 4},  {333, 2},  {335, 2},   {337, 2},   {339, 2},
    {341, 2},  {343, 26}, {369, 4},  {373, 2},  {375, 6},  {381, 2},  {383, 2},  {385, 4},   {389, 4},   {393, 2},
    {395, 2},  {397, 2},  {399, 1},  {400, 1},  {401, 1},  {402, 1},  {403, 1},  {404, 1},   {405, 1},   {406, 12},
    {418, 12}, {430, 12}, {442, 12}, {454, 12}, {466, 12}, {478, 12}, {490, 12}, {502, 160}, {662, 160}, {822, 4},
    {826, 4},  {830, 4},  {834, 4},  {838, 4},  {842, 4},  {846, 4},  {850, 2},  {852, 4},   {856, 16},  {872, 1},
    {873, 3},  {876, 4},  {880, 22}, {902, 6},  {908, 6},  {914, 4},  {918, 2},  {920, 128},
};

Text PatternedRecord() {
    Text bytes(kUserRecordSize, '\0');
    for (int i = 0; i < kUserRecordSize; ++i) bytes[i] = static_cast<char>((i * 37 + 11) & 0xFF);
    return bytes;
}

}   // namespace

TEST(UserRecord, FieldTableMatchesTheBbsLayout) {
    for (int i = 0; i < kUserFieldCount; ++i) {
        EXPECT_EQ(kUserFields[i].offset, kLayout[i].offset) << "field " << i + 1;
        EXPECT_EQ(kUserFields[i].size, kLayout[i].size) << "field " << i + 1;
    }
    EXPECT_EQ(kUserFields[kUserAccessFlagsField - 1].type, UserFieldType::Text);
    EXPECT_EQ(kUserFields[kUserSecurityLevelField - 1].type, UserFieldType::Int16);
    EXPECT_EQ(kUserFields[11].type, UserFieldType::Int32);   // field 12
}

TEST(UserRecord, EveryByteSurvivesDecodeAndEncode) {
    const Text bytes = PatternedRecord();
    EXPECT_EQ(UserRecord::Decode(bytes).Encode(), bytes);
}

TEST(UserRecord, SettingTheServerFieldsTouchesOnlyTheirBytes) {
    const Text original = PatternedRecord();
    UserRecord r = UserRecord::Decode(original);
    r.SetHandle("John Smith");
    r.SetAccessFlags("AIZ");
    r.SetSecurityLevel(-2);
    const Text out = r.Encode();
    ASSERT_EQ(out.size(), kUserRecordSize);
    EXPECT_EQ(out.left(40), Text("John Smith").leftJustified(40, ' '));
    EXPECT_EQ(out.mid(343, 26), Text("AIZ").leftJustified(26, ' '));
    EXPECT_EQ(out.mid(373, 2), Text("\xFE\xFF", 2));
    EXPECT_EQ(out.mid(40, 303), original.mid(40, 303));
    EXPECT_EQ(out.mid(369, 4), original.mid(369, 4));
    EXPECT_EQ(out.mid(375), original.mid(375));
}

TEST(UserRecord, ReadsTrimmedTextAndLittleEndianNumbers) {
    UserRecord r;
    r.SetFieldText(1, "  Ann Lee");
    r.SetFieldText(22, "xi");
    r.SetFieldNumber(24, 255);
    r.SetFieldNumber(12, -70000);
    r.SetFieldNumber(10, 40000);   // 16-bit fields keep the low half, read back signed
    EXPECT_EQ(r.Handle(), "Ann Lee");
    EXPECT_EQ(r.AccessFlags(), "xi");
    EXPECT_EQ(r.SecurityLevel(), 255);
    EXPECT_EQ(r.FieldNumber(12), -70000);
    EXPECT_EQ(r.FieldNumber(10), 40000 - 65536);
    EXPECT_EQ(r.Encode().mid(239, 4), Text("\x90\xEE\xFE\xFF", 4));
    EXPECT_EQ(r.FieldText(1), Text("  Ann Lee").leftJustified(40, ' '));
}

TEST(UserRecord, LongTextIsCutToItsFieldAndNulPaddingReadsAsBlank) {
    UserRecord r;
    r.SetHandle(Text(50, 'x'));
    EXPECT_EQ(r.Handle(), Text(40, 'x'));
    EXPECT_EQ(r.Encode().at(40), ' ');
    Text bytes = UserRecord().Encode();
    bytes.replace(0, 40, Text("Bob").append(37, '\0'));
    EXPECT_EQ(UserRecord::Decode(bytes).Handle(), "Bob");
}

TEST(UserRecord, BlankAndShortRecords) {
    const UserRecord blank;
    EXPECT_EQ(blank.Handle(), "");
    EXPECT_EQ(blank.SecurityLevel(), 0);
    EXPECT_FALSE(blank.IsListed());
    EXPECT_EQ(blank.Encode().left(197), Text(197, ' '));
    EXPECT_EQ(blank.Encode().mid(197, 2), Text(2, '\0'));
    // A record cut short keeps what it has; the rest reads as blank.
    const UserRecord cut = UserRecord::Decode("Carl");
    EXPECT_EQ(cut.Handle(), "Carl");
    EXPECT_EQ(cut.Encode().size(), kUserRecordSize);
    EXPECT_EQ(cut.SecurityLevel(), 0);
    // Out-of-range field numbers and type mismatches change nothing.
    UserRecord r;
    r.SetFieldText(0, "x");
    r.SetFieldText(69, "x");
    r.SetFieldNumber(1, 7);
    r.SetFieldText(24, "x");
    EXPECT_EQ(r.Encode(), UserRecord().Encode());
    EXPECT_EQ(r.FieldNumber(1), 0);
}
