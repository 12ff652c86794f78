#pragma once
// The external spam scan: the message goes to "spamassassin -D -t" through a
// scratch file in the BBS temporary directory, and the scanner's output
// replaces it. The wait (about 20 seconds at most) runs on the event loop, so
// other sessions are served meanwhile. Every failure hands back the message
// unchanged.
#include "server/bbs/ServerContext.h"
#include <QObject>
#include <QProcess>
#include <QTimer>
#include <functional>

inline constexpr int kSpamScanTimeoutMs = 20000;

class SpamScan : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(const Text& message)>;

    // Starts the scan; `done` is called once, from the event loop, with the
    // scanned or the unchanged message. Deleting the scan stops the scanner
    // and drops `done`.
    static SpamScan* ExecuteSpamAssassin(const ServerContext& ctx, int16_t slot, const Text& message, Done done,
                                         QObject* parent);

    // The scanner program ("spamassassin", found on PATH).
    static QString Program();
    // The directory of the scratch files: the BBS temporary directory, or a
    // folder inside it when it also serves as the outbound queue (a scratch
    // "V" + n + ".D" must never be taken for outgoing mail).
    static QString ScratchDir(const ServerContext& ctx);

private:
    SpamScan(const ServerContext& ctx, int16_t slot, const Text& message, Done done, QObject* parent);
    void Start();
    void Finish(const Text& result, const Text& event);
    void OnFinished();
    void OnTimeout();

    ServerContext ctx_;
    int16_t slot_;
    Text message_;
    Done done_;
    QString input_, output_;
    QProcess process_;
    QTimer timeout_;
    bool finished_ = false;
};
