#include "updater/ErrorLog.h"
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

Text ErrorLogLine(const QDateTime& when, const Text& program, const Text& procedure, const Text& version,
                  const Text& module, const Text& description) {
    const Text stamp = QLocale::c().toString(when, QStringLiteral("ddd yyyy-MM-dd HH:mm:ss")).toLatin1();
    return stamp + ' ' + program.trimmed() + " v" + version + "  " + module.trimmed() + ' ' + procedure.trimmed() +
           " - " + description.trimmed() + "\r\n";
}

// The executable's file name without extension, as the log names the program.
static Text ProgramName() {
    const QString path = QCoreApplication::applicationFilePath();
    const QString name = path.isEmpty() ? QString() : QFileInfo(path).completeBaseName();
    return name.isEmpty() ? Text(kZrvProgram) : name.toLatin1();
}

void LogError(const Text& procedure, const Text& version, const Text& module, const Text& description) {
    QFile log(QStringLiteral("ZRVERROR.LOG"));
    // The server appends here too; the log is its owner's only.
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) return;
    log.write(ErrorLogLine(QDateTime::currentDateTime(), ProgramName(), procedure, version, module, description));
}
