#pragma once
// A small BBS installation in a temporary directory for the user directory
// and recipient tests: main, data, temp and spool directories, a user file
// written record by record with the record encoder, and the list files the
// tests name. The current directory moves into it, so the error log of the
// run ("ZRVERROR.LOG") lands there too.
#include <gtest/gtest.h>
#include <QDir>
#include <QTemporaryDir>
#include "server/bbs/BbsConfig.h"
#include "server/bbs/UserRecord.h"
#include "server/store/Files.h"

struct TestUser {
    Text handle;
    int16_t level = 10;
    Text flags;
};

class UserInstall {
public:
    UserInstall() : previousDir_(QDir::currentPath()) {
        for (const char* sub : {"MAIN", "DATA", "TEMP", "SPOOL"}) QDir(dir_.path()).mkpath(sub);
        bbs.paths.fields[0] = TextFromPath(Dir("MAIN"));
        bbs.paths.fields[2] = TextFromPath(Dir("DATA"));
        bbs.paths.fields[6] = TextFromPath(Dir("TEMP"));
        bbs.spoolDir = TextFromPath(Dir("SPOOL"));
        QDir::setCurrent(dir_.path());
    }
    ~UserInstall() { QDir::setCurrent(previousDir_); }

    QString Dir(const char* sub) const { return dir_.path() + "/" + sub; }
    QString Main(const char* name) const { return Dir("MAIN") + "/" + name; }
    QString Data(const char* name) const { return Dir("DATA") + "/" + name; }

    static Text Records(const QList<TestUser>& users) {
        Text bytes;
        for (const TestUser& u : users) {
            UserRecord r;
            r.SetHandle(u.handle);
            r.SetSecurityLevel(u.level);
            r.SetAccessFlags(u.flags);
            bytes += r.Encode();
        }
        return bytes;
    }
    void WriteUsers(const QList<TestUser>& users) const { Write(Data("USERFILE.DAT"), Records(users)); }
    void WriteNet(int n, const Text& lines) const { Write(Dir("DATA") + "/NET." + QString::number(n), lines); }
    static void Write(const QString& path, const Text& bytes) {
        ASSERT_TRUE(WriteFileAtomic(path, bytes)) << path.toStdString();
    }
    static Text Read(const QString& path) { return ReadFileBytes(path); }
    Text ErrorLog() const { return ReadFileBytes(dir_.path() + "/ZRVERROR.LOG"); }

    BbsConfig bbs;

private:
    QTemporaryDir dir_;
    QString previousDir_;
};
