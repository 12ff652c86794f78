#pragma once
// Test helpers: a real HTTP update service on loopback (Python's
// http.server serving answers the test writes) and a BBS main directory
// holding what the update checker reads.
#include <gtest/gtest.h>
#include <QDate>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include "updater/ZrvConstants.h"

class FixtureServer {
public:
    FixtureServer();
    ~FixtureServer();

    QString BaseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }
    // The answer to a GET of exactly this target (path and query).
    void Reply(const Text& target, const Text& body, int status = 200, int delaySeconds = 0);
    // The answer to the list request of a service type word.
    void UpdateList(const Text& typeWord, const Text& body, int status = 200, int delaySeconds = 0);
    // Each request so far: target, TAB, If-Modified-Since header.
    QList<Text> Requests() const;

private:
    QTemporaryDir dir_;
    QProcess process_;
    int port_ = 0;
};

class UpdaterBbs {
public:
    UpdaterBbs();   // writes SYSPATHS.CFG naming the directory itself
    QString Dir() const { return dir_.path(); }
    QString Path(const QString& name) const { return dir_.path() + "/" + name; }

    void Install(const QString& exeName, const QDate& fileDate = QDate(2006, 7, 11));
    void SetVersion(int offset, const Text& version);   // writes ZRVDATA.DAT field
    void SetUpdateTypeSetting(qint16 type);             // writes ZARVEL.CFG
    Text VersionRecord() const;
    Text ErrorLog() const;

private:
    QTemporaryDir dir_;
};

// Makes the directory current for the life of the object (the error log goes there).
class CurrentDirectory {
public:
    explicit CurrentDirectory(const QString& dir);
    ~CurrentDirectory();

private:
    QString previous_;
};

// Lets events run until the condition holds or the time is up.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 15000);

inline const Text kListTarget = "/products/zrvupdate/update.php?type=";
inline const Text kVersionQuery = "&version=1.5.060711";
