#pragma once
// Asynchronous GET requests to the update service (`GetUpdateInfo`).
#include <QNetworkAccessManager>
#include <QObject>
#include <functional>
#include "updater/ZrvConstants.h"

inline constexpr int kFetchTimeoutMs = 10000;
inline constexpr qint64 kMaxAnswerBytes = 4 * 1024 * 1024;   // far beyond any real answer
inline constexpr const char* kIfModifiedSince = "Sat, 1 Jan 2000 00:00:00 GMT";

class UpdateService : public QObject {
    Q_OBJECT
public:
    // Gets the body of a 2xx answer cut at its first NUL byte, or an empty
    // text when the request fails, is not 2xx or takes longer than the limit.
    using Handler = std::function<void(const Text& body)>;

    explicit UpdateService(QObject* parent = nullptr);
    ~UpdateService() override;

    void GetUpdateInfo(const QString& url, Handler done);
    // Why the last request that ended gave no answer: "Connection refused",
    // "HTTP status 404", ...; "" after one that succeeded.
    const Text& LastFailure() const { return lastFailure_; }

private:
    QNetworkAccessManager manager_;
    Text lastFailure_;
};
