#include "updater/UpdateService.h"
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>
#include <memory>
#include "updater/ErrorLog.h"

UpdateService::UpdateService(QObject* parent) : QObject(parent) {}

UpdateService::~UpdateService() {
    // Replies still running must not call back into their owners, which are going away.
    const auto replies = manager_.findChildren<QNetworkReply*>();
    for (QNetworkReply* reply : replies) {
        reply->disconnect(this);
        reply->abort();
    }
}

static void LogFetchError(const Text& description) {
    LogError("GetUpdateInfo", kZrvVersion, kModZRVUpdate, description);
}

void UpdateService::GetUpdateInfo(const QString& url, Handler done) {
    const QUrl address(url.trimmed(), QUrl::StrictMode);
    if (url.trimmed().isEmpty() || !address.isValid() || address.host().isEmpty()) {
        LogFetchError("No valid URL specified");
        lastFailure_ = "No valid URL specified";
        QTimer::singleShot(0, this, [done] { done({}); });
        return;
    }

    QNetworkRequest request(address);
    request.setRawHeader("If-Modified-Since", kIfModifiedSince);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    QNetworkReply* reply = manager_.get(request);

    struct Progress {
        Text body;
        bool timedOut = false;
        bool tooLarge = false;
    };
    auto progress = std::make_shared<Progress>();

    auto* limit = new QTimer(reply);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, this, [reply, progress] {
        progress->timedOut = true;
        reply->abort();
    });
    limit->start(kFetchTimeoutMs);

    connect(reply, &QNetworkReply::readyRead, this, [reply, progress] {
        if (progress->body.size() + reply->bytesAvailable() > kMaxAnswerBytes) {
            progress->tooLarge = true;
            reply->abort();
            return;
        }
        progress->body += reply->readAll();
    });

    connect(reply, &QNetworkReply::finished, this, [this, reply, progress, done] {
        reply->deleteLater();
        if (!progress->timedOut && !progress->tooLarge) progress->body += reply->read(kMaxAnswerBytes);
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const int code = status.isValid() ? status.toInt() : 0;
        const bool ok = !progress->timedOut && !progress->tooLarge && reply->error() == QNetworkReply::NoError &&
                        code >= 200 && code <= 299;
        if (!status.isValid() && !progress->timedOut && !progress->tooLarge)
            LogFetchError(reply->errorString().toLatin1());
        if (!ok) {
            lastFailure_ = progress->timedOut   ? Text("no answer within 10 seconds")
                           : progress->tooLarge ? Text("the answer exceeds 4 MB")
                           : !status.isValid()  ? reply->errorString().toLatin1()
                                                : "HTTP status " + Text::number(code);
            done({});
            return;
        }
        lastFailure_.clear();
        const qsizetype nul = progress->body.indexOf('\0');
        done(nul < 0 ? progress->body : progress->body.left(nul));
    });
}
