#include "tests/support/TestCertificates.h"
#include <QFileInfo>
#include <QProcess>

TestCertificates::TestCertificates() {
    const QString script = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/make_certs.sh";
    QProcess make;
    make.start(QStringLiteral("/bin/sh"), {script, dir_.path()});
    made_ = make.waitForFinished(60000) && make.exitStatus() == QProcess::NormalExit && make.exitCode() == 0;
}
