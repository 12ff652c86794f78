#include "updater/UpdateAddresses.h"
#include "updater/UpdateTypes.h"

UpdateAddresses UpdateAddresses::FromEnvironment() {
    UpdateAddresses addresses{QString::fromLatin1(kDefaultServiceBase), QString::fromLatin1(kDefaultFtpBase)};
    if (qEnvironmentVariableIsSet("ZRVUPDATE_URL")) addresses.serviceBase = qEnvironmentVariable("ZRVUPDATE_URL");
    if (qEnvironmentVariableIsSet("ZRVUPDATE_FTP")) addresses.ftpBase = qEnvironmentVariable("ZRVUPDATE_FTP");
    return addresses;
}

static QString WithoutTrailingSlash(QString base) {
    base = base.trimmed();
    while (base.endsWith(QLatin1Char('/'))) base.chop(1);
    return base;
}

QString UpdateAddresses::UpdateListUrl(int type) const {
    if (serviceBase.trimmed().isEmpty()) return {};
    return WithoutTrailingSlash(serviceBase) + QStringLiteral("/products/zrvupdate/update.php?type=") +
           ServiceTypeWord(type) + QStringLiteral("&version=") + QLatin1String(kZrvVersion);
}

// base + "/products/" + product + "/files/" + file, built only from plain segments.
static std::optional<QString> ProductFileUrl(const QString& serviceBase, const Text& product, const Text& file) {
    if (!IsPlainPathSegment(product) || !IsPlainPathSegment(file) || serviceBase.trimmed().isEmpty())
        return std::nullopt;
    QUrl url(WithoutTrailingSlash(serviceBase));
    if (!url.isValid()) return std::nullopt;
    url.setPath(url.path() + QStringLiteral("/products/") + QString::fromLatin1(product) + QStringLiteral("/files/") +
                    QString::fromLatin1(file),
                QUrl::DecodedMode);
    return url.toString(QUrl::FullyEncoded);
}

std::optional<QString> UpdateAddresses::NotesUrl(const UpdateEntry& entry) const {
    return ProductFileUrl(serviceBase, entry.product, entry.notesFile);
}

std::optional<QString> UpdateAddresses::HistoryUrl(const UpdateEntry& entry) const {
    return ProductFileUrl(serviceBase, entry.product, entry.historyFile);
}

std::optional<QUrl> UpdateAddresses::DownloadUrl(const UpdateEntry& entry) const {
    if (!IsPlainPathSegment(entry.product) || !IsPlainPathSegment(entry.fileName)) return std::nullopt;
    QUrl url(ftpBase.trimmed());
    if (!url.isValid() || url.host().isEmpty()) return std::nullopt;
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
    url.setPath(
        path + QString::fromLatin1(entry.product) + QStringLiteral("/files/") + QString::fromLatin1(entry.fileName),
        QUrl::DecodedMode);
    return url;
}
