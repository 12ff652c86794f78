#pragma once
// The one lock of the BBS e-mail base. Every writer of "EMAIL.DAT",
// "EMAIL.BIN", "SPOOL.NET" and "DBSEQ.DAT" (this server, and the BBS's
// tosser by convention) holds an advisory lock (flock) on "EMAIL.DAT" across
// its body append, record write and sequence update, and takes the body
// position and the record slot only while it holds it; so no record points
// at another message's body and no sequence number is given twice.
#include <QString>

class EmailBaseLock {
public:
    static constexpr int kWaitMs = 10000;

    // Takes the lock, waiting up to `waitMs` for another writer to let go.
    explicit EmailBaseLock(const QString& messageDir, int waitMs = kWaitMs);
    ~EmailBaseLock();
    EmailBaseLock(const EmailBaseLock&) = delete;
    EmailBaseLock& operator=(const EmailBaseLock&) = delete;

    bool Held() const { return fd_ >= 0; }
    // Why the lock is not held, when it is not.
    const QString& Error() const { return error_; }

private:
    int fd_ = -1;
    QString error_;
};
