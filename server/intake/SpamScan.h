#pragma once
// The external spam scan: the message goes to "spamassassin -D -t" through a
// scratch file in the BBS temporary directory, and the scanner's output
// replaces it. The wait (about 20 seconds at most) runs on the event loop, so
// other sessions are served meanwhile. Every failure hands back the message
// unchanged. At most kMaxScanners scanners run at once; further scans wait
// their turn in order, so a burst of mail cannot start one per session.
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <deque>
#include <functional>
#include "server/bbs/ServerContext.h"

inline constexpr int kSpamScanTimeoutMs = 20000;
inline constexpr int kMaxScanners = 2;

class SpamScan : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(const Text& message)>;

    // Starts the scan, or queues it while kMaxScanners run; `done` is called
    // once, from the event loop, with the scanned or the unchanged message.
    // Deleting the scan stops the scanner and drops `done`.
    static SpamScan* ExecuteSpamAssassin(const ServerContext& ctx, int16_t slot, const Text& message, Done done,
                                         QObject* parent);

    // The scanner program ("spamassassin", found on PATH).
    static QString Program();
    // The directory of the scratch files: the BBS temporary directory, or a
    // folder inside it when it also serves as the outbound queue (a scratch
    // "V" + n + ".D" must never be taken for outgoing mail).
    static QString ScratchDir(const ServerContext& ctx);
    // Scanners running now.
    static int Running() { return running_; }
    ~SpamScan() override;

private:
    SpamScan(const ServerContext& ctx, int16_t slot, const Text& message, Done done, QObject* parent);
    void Start();
    void Finish(const Text& result, const Text& event);
    void OnFinished();
    void OnTimeout();
    // The scanner has ended (or never started): its place goes to the next scan.
    void Release();
    void RemoveScratchFiles();

    static int running_;
    static std::deque<QPointer<SpamScan>> waiting_;

    const ServerContext& ctx_;   // the intake's, which owns every scan
    int16_t slot_;
    Text message_;
    Done done_;
    QString input_, output_;
    QProcess process_;
    QTimer timeout_;
    bool finished_ = false;
    bool holdsScanner_ = false;
};
