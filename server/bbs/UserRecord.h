#pragma once
// One record of the BBS user file "USERFILE.DAT": 1048 bytes, 68 packed
// fields, little-endian numbers, space-padded text. The server uses three
// fields (handle, access flags, security level); every other byte is kept
// exactly as read, so a record written back is the record that was read.
#include <array>
#include <cstdint>
#include "server/store/Text.h"

inline constexpr int kUserRecordSize = 1048;
inline constexpr int kUserFieldCount = 68;

enum class UserFieldType : uint8_t { Text, Int16, Int32 };

struct UserField {
    int offset;
    int size;
    UserFieldType type;
};

// The layout, field 1 at index 0.
extern const std::array<UserField, kUserFieldCount> kUserFields;

inline constexpr int kUserHandleField = 1;           // offset 0, 40 bytes
inline constexpr int kUserAccessFlagsField = 22;     // offset 343, 26 bytes
inline constexpr int kUserSecurityLevelField = 24;   // offset 373, 16-bit
inline constexpr int kUserHandleSize = 40;
inline constexpr int kUserSecurityLevelOffset = 373;

class UserRecord {
public:
    // A blank record: text fields all spaces, numbers 0.
    UserRecord();
    // The record as stored; shorter input is completed as a blank record
    // would be, longer input is cut at 1048 bytes.
    static UserRecord Decode(const Text& bytes);
    Text Encode() const { return bytes_; }

    // Fields are numbered from 1 as in the layout table.
    Text FieldText(int field) const;                   // raw, with its padding
    int32_t FieldNumber(int field) const;              // 16-bit fields sign-extended
    void SetFieldText(int field, const Text& value);   // cut or space-padded
    void SetFieldNumber(int field, int32_t value);

    Text Handle() const;        // trimmed
    Text AccessFlags() const;   // trimmed
    int16_t SecurityLevel() const;
    void SetHandle(const Text& handle) { SetFieldText(kUserHandleField, handle); }
    void SetAccessFlags(const Text& flags) { SetFieldText(kUserAccessFlagsField, flags); }
    void SetSecurityLevel(int16_t level) { SetFieldNumber(kUserSecurityLevelField, level); }

    // A listed user: a handle and a security level of at least 1.
    bool IsListed() const { return !Handle().isEmpty() && SecurityLevel() >= 1; }

private:
    Text bytes_;
};

// Readers working on a whole mapped user file use these on raw bytes.
Text UserHandleAt(const char* record);
int16_t UserSecurityLevelAt(const char* record);
