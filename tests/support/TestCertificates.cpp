#include "tests/support/TestCertificates.h"
#include <QProcess>
#include "tests/support/TestFiles.h"

TestCertificates::TestCertificates() {
    const QString script = TestFile(QStringLiteral("support/make_certs.sh"));
    QProcess make;
    make.start(QStringLiteral("/bin/sh"), {script, dir_.path()});
    made_ = make.waitForFinished(60000) && make.exitStatus() == QProcess::NormalExit && make.exitCode() == 0;
}
