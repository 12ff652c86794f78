// Found by fuzzing: a record of the e-mail base whose body length runs past
// the end of "EMAIL.BIN" must not make the reader reserve that many bytes.
// A damaged record holds any length up to 2 GB.
#include "server/bbs/EmailRecord.h"
#include "server/store/Files.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstdlib>

namespace {

void Write(const QString& path, const Text& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

Text RecordWithBody(int32_t position, int32_t length) {
    Text record(kEmailRecordSize, '\0');
    qToLittleEndian<int32_t>(position, record.data() + 478);
    qToLittleEndian<int32_t>(length, record.data() + 482);
    return record;
}

// Whether every body read is the part of EMAIL.BIN the record points into.
bool BodiesStayInsideTheBodyFile(const QString& dir) {
    const QList<EmailEntry> entries = ReadEmailBase(dir);
    return entries.size() == 3 && entries[0].body == "body of twenty bytes" && entries[1].body == "twenty bytes" &&
           entries[2].body.isEmpty();
}

#if !defined(__SANITIZE_ADDRESS__)
// In a death-test child: 1 GB of address space, then the reader.
[[noreturn]] void ReadWithLimitedMemory(const QString& dir) {
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = rlim_t(1) << 30;
    setrlimit(RLIMIT_AS, &limit);
    std::exit(BodiesStayInsideTheBodyFile(dir) ? 0 : 1);
}
#endif

}   // namespace

TEST(EmailBaseRegression, ABodyLengthPastTheEndOfTheBodyFileReadsOnlyWhatIsThere) {
    QTemporaryDir dir;
    Write(EmailDatPath(dir.path()),
          RecordWithBody(1, 0x7fffffff) + RecordWithBody(9, 0x40000000) + RecordWithBody(0x7ffffff0, 0x7fffffff));
    Write(EmailBinPath(dir.path()), "body of twenty bytes");
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer reserves far more address space than any limit would allow;
    // the test script caps single allocations there instead.
    EXPECT_TRUE(BodiesStayInsideTheBodyFile(dir.path()));
#else
    // With 1 GB of address space a reader that reserves the stated length fails.
    EXPECT_EXIT(ReadWithLimitedMemory(dir.path()), ::testing::ExitedWithCode(0), "");
#endif
}
