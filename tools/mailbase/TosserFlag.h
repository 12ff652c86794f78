#pragma once
// The flag "BT" + node + ".FLG" in the BBS main directory that tells the
// server a tosser is at work. It is also locked, so that a second tosser
// started by mistake finds it busy and leaves the hand-off files alone.
#include <QString>

class TosserFlag {
public:
    TosserFlag() = default;
    ~TosserFlag();
    TosserFlag(const TosserFlag&) = delete;
    TosserFlag& operator=(const TosserFlag&) = delete;

    enum class Result { Held, Busy, Failed };
    // Creates and locks the flag; Busy when another tosser holds it.
    Result Raise(const QString& mainDir, int node);
    // Removes the flag and lets go of the lock.
    void Lower();

    QString Path() const { return path_; }

private:
    QString path_;
    int fd_ = -1;
};
