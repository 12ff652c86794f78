// The Base64 codec: RFC 2045 vectors, the 76-character line breaking, the
// lenient decoder against hostile input, and the file variants.
#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>
#include "server/net/Base64.h"

namespace {

QByteArray Bytes(int count) {
    QByteArray b;
    for (int i = 0; i < count; ++i) b += static_cast<char>(i * 7 + 3);
    return b;
}

}   // namespace

TEST(Base64, EncodesGroupsAndPadding) {
    EXPECT_EQ(clsBase64::Encode("abc"), "YWJj");
    EXPECT_EQ(clsBase64::Encode("ab"), "YWI=");
    EXPECT_EQ(clsBase64::Encode("a"), "YQ==");
    EXPECT_EQ(clsBase64::Encode(""), "");
    EXPECT_EQ(clsBase64::EncodeArr(QByteArray()), "");
    // Every byte value, the high ones included, travels as one byte.
    EXPECT_EQ(clsBase64::Encode(QByteArray("\xff\xfe\x00\x80", 4)), "//4AgA==");
    EXPECT_EQ(clsBase64::Encode("user@example.com"), "dXNlckBleGFtcGxlLmNvbQ==");
}

TEST(Base64, BreaksLinesAfter76Characters) {
    const Text one = clsBase64::EncodeArr(Bytes(57));
    EXPECT_EQ(one.size(), 76);
    EXPECT_FALSE(one.contains('\r'));

    const Text two = clsBase64::EncodeArr(Bytes(58));
    ASSERT_EQ(two.size(), 76 + 2 + 4);
    EXPECT_EQ(two.mid(76, 2), "\r\n");
    EXPECT_EQ(two.left(76), one);
    EXPECT_EQ(two.mid(78), clsBase64::EncodeArr(Bytes(58).mid(57)));

    const Text full = clsBase64::EncodeArr(Bytes(114));
    ASSERT_EQ(full.size(), 76 + 2 + 76);
    EXPECT_EQ(full.mid(76, 2), "\r\n");
    EXPECT_FALSE(full.endsWith("\r\n"));
    EXPECT_EQ(full.count("\r\n"), 1);
}

TEST(Base64, RoundTripsEveryLength) {
    for (int n = 0; n < 300; ++n) {
        const QByteArray data = Bytes(n);
        ASSERT_EQ(clsBase64::DecodeArr(clsBase64::EncodeArr(data)), data) << n;
        ASSERT_EQ(clsBase64::EncodeArr(data).replace("\r\n", ""), data.toBase64()) << n;
    }
}

TEST(Base64, DecodesIgnoringLineBreaksAndPadding) {
    EXPECT_EQ(clsBase64::Decode("YWJj"), "abc");
    EXPECT_EQ(clsBase64::Decode("YW\r\nJj"), "abc");
    EXPECT_EQ(clsBase64::Decode("Y=W=J=j=="), "abc");
    EXPECT_EQ(clsBase64::Decode("YWI="), "ab");
    EXPECT_EQ(clsBase64::Decode("YQ"), "a");
    EXPECT_EQ(clsBase64::Decode(""), "");
}

TEST(Base64, DecodesHostileInputWithoutFailing) {
    // One value left over gives nothing.
    EXPECT_EQ(clsBase64::DecodeArr("Y"), "");
    EXPECT_EQ(clsBase64::DecodeArr("YWJjY"), "abc");
    // Outside the alphabet counts as 0: "!!!!" decodes like "AAAA".
    EXPECT_EQ(clsBase64::DecodeArr("!!!!"), QByteArray(3, '\0'));
    // A lone LF or CR is no line break: it is a value like any other.
    EXPECT_EQ(clsBase64::DecodeArr("YW\nJj").size(), 3);
    EXPECT_EQ(clsBase64::DecodeArr("YW\rJj").size(), 3);
    // NULs, high bytes and nothing but padding.
    EXPECT_EQ(clsBase64::DecodeArr(QByteArray("\0\0\0\0", 4)), QByteArray(3, '\0'));
    EXPECT_EQ(clsBase64::DecodeArr(QByteArray(1000, '\xff')).size(), 750);
    EXPECT_EQ(clsBase64::DecodeArr(QByteArray(100000, '=')), "");
    EXPECT_EQ(clsBase64::DecodeArr(QByteArray(100000, '\r')).size(), 75000);
}

TEST(Base64, EncodesFiles) {
    QTemporaryDir dir;
    const QString path = dir.filePath("data.bin");
    EXPECT_EQ(clsBase64::EncodeFromFile(path), "") << "missing file";
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_EQ(clsBase64::EncodeFromFile(path), "") << "empty file";
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(Bytes(200));
    f.close();
    EXPECT_EQ(clsBase64::EncodeFromFile(path), clsBase64::EncodeArr(Bytes(200)));
}

TEST(Base64, DecodeToFileRefusesAnExistingFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("out.bin");
    ASSERT_TRUE(clsBase64::DecodeToFile("YWJj", path));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "abc");
    f.close();

    clsBase64::Error error;
    EXPECT_FALSE(clsBase64::DecodeToFile("eHl6", path, &error));
    EXPECT_EQ(error.number, 0x800403E8u);
    EXPECT_EQ(error.source, "Base64.DecodeToFile");
    EXPECT_EQ(error.description, "File already exists.");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "abc");
}
