#pragma once
// The hand-off directory as the tosser reads it, with one system call per
// file where Qt's file classes would make several: the tosser has to keep
// pace with thousands of files a second.
#include <QSet>
#include <QString>
#include <QStringList>
#include "server/store/Text.h"

// Regular files named "V*.D" (any case; links are not followed) in `dir`,
// oldest first, then by number; names in `skip` are left out.
QStringList PendingHandOffs(const QString& dir, const QSet<QString>& skip = {});

// The whole file; false when it cannot be opened or read, or is longer than `limit`.
bool ReadWholeFile(const QString& path, Text& content, qint64 limit);

// Removes a file; false when it is still there.
bool RemoveHandOff(const QString& path);
