#include "server/bbs/UserRecord.h"
#include <algorithm>
#include <cstring>
#include "server/bbs/ByteScan.h"

namespace {

constexpr auto T = UserFieldType::Text;
constexpr auto I = UserFieldType::Int16;
constexpr auto L = UserFieldType::Int32;

// Sizes in field order; offsets follow by packing them without gaps.
constexpr std::array<std::pair<int, UserFieldType>, kUserFieldCount> kSizes{{
    {40, T}, {40, T}, {40, T}, {32, T}, {3, T},  {10, T}, {12, T}, {12, T},  {8, T},   {2, I},    // 1-10
    {40, T}, {4, L},  {80, T}, {2, I},  {4, L},  {4, L},  {2, I},  {2, I},   {2, I},   {2, I},    // 11-20
    {2, I},  {26, T}, {4, L},  {2, I},  {6, T},  {2, I},  {2, I},  {4, L},   {4, L},   {2, I},    // 21-30
    {2, I},  {2, I},  {1, T},  {1, T},  {1, T},  {1, T},  {1, T},  {1, T},   {1, T},   {12, T},   // 31-40
    {12, T}, {12, T}, {12, T}, {12, T}, {12, T}, {12, T}, {12, T}, {160, T}, {160, T}, {4, L},    // 41-50
    {4, L},  {4, L},  {4, L},  {4, L},  {4, L},  {4, L},  {2, I},  {4, L},   {16, T},  {1, T},    // 51-60
    {3, T},  {4, T},  {22, T}, {6, T},  {6, T},  {4, L},  {2, I},  {128, T},                      // 61-68
}};

constexpr std::array<UserField, kUserFieldCount> PackFields() {
    std::array<UserField, kUserFieldCount> fields{};
    int offset = 0;
    for (int i = 0; i < kUserFieldCount; ++i) {
        fields[i] = {offset, kSizes[i].first, kSizes[i].second};
        offset += kSizes[i].first;
    }
    return fields;
}

constexpr std::array<UserField, kUserFieldCount> kPacked = PackFields();
static_assert(kPacked[kUserFieldCount - 1].offset + kPacked[kUserFieldCount - 1].size == kUserRecordSize);
static_assert(kPacked[kUserAccessFlagsField - 1].offset == 343);
static_assert(kPacked[kUserSecurityLevelField - 1].offset == kUserSecurityLevelOffset);

const UserField* Field(int field) {
    if (field < 1 || field > kUserFieldCount) return nullptr;
    return &kUserFields[field - 1];
}

int32_t ReadLittleEndian(const char* p, int size) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    if (size == 2) return static_cast<int16_t>(u[0] | (u[1] << 8));
    return static_cast<int32_t>(uint32_t(u[0]) | (uint32_t(u[1]) << 8) | (uint32_t(u[2]) << 16) |
                                (uint32_t(u[3]) << 24));
}

void WriteLittleEndian(char* p, int size, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < size; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Text fields trimmed as every reader of the BBS's records does (a NUL, as
// left by some editors, counts as padding too), and exactly as the scans
// of the whole user file compare them.
Text TrimmedField(const char* p, int size) { return ViewText(TrimField(std::string_view(p, size_t(size)))); }

}   // namespace

const std::array<UserField, kUserFieldCount> kUserFields = kPacked;

UserRecord::UserRecord() : bytes_(kUserRecordSize, ' ') {
    for (const UserField& f : kUserFields)
        if (f.type != UserFieldType::Text) WriteLittleEndian(bytes_.data() + f.offset, f.size, 0);
}

UserRecord UserRecord::Decode(const Text& bytes) {
    UserRecord r;
    const qsizetype n = std::min<qsizetype>(bytes.size(), kUserRecordSize);
    std::memcpy(r.bytes_.data(), bytes.constData(), static_cast<size_t>(n));
    return r;
}

Text UserRecord::FieldText(int field) const {
    const UserField* f = Field(field);
    return f ? bytes_.mid(f->offset, f->size) : Text();
}

int32_t UserRecord::FieldNumber(int field) const {
    const UserField* f = Field(field);
    if (!f || f->type == UserFieldType::Text) return 0;
    return ReadLittleEndian(bytes_.constData() + f->offset, f->size);
}

void UserRecord::SetFieldText(int field, const Text& value) {
    const UserField* f = Field(field);
    if (!f || f->type != UserFieldType::Text) return;
    Text padded = value.left(f->size);
    padded.append(f->size - padded.size(), ' ');
    bytes_.replace(f->offset, f->size, padded);
}

void UserRecord::SetFieldNumber(int field, int32_t value) {
    const UserField* f = Field(field);
    if (!f || f->type == UserFieldType::Text) return;
    WriteLittleEndian(bytes_.data() + f->offset, f->size, value);
}

Text UserRecord::Handle() const { return UserHandleAt(bytes_.constData()); }

Text UserRecord::AccessFlags() const {
    const UserField& f = kUserFields[kUserAccessFlagsField - 1];
    return TrimmedField(bytes_.constData() + f.offset, f.size);
}

int16_t UserRecord::SecurityLevel() const { return UserSecurityLevelAt(bytes_.constData()); }

Text UserHandleAt(const char* record) { return TrimmedField(record, kUserHandleSize); }

int16_t UserSecurityLevelAt(const char* record) {
    return static_cast<int16_t>(ReadLittleEndian(record + kUserSecurityLevelOffset, 2));
}
