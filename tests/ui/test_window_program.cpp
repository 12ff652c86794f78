// The real osprine program with its window front, started in a test
// installation as a sysop would (the offscreen platform stands in for the
// desktop): it serves SMTP and SIGTERM shuts it down in order.
#include "UiTestSupport.h"
#include "server/store/Files.h"
#include "tests/support/TempBbs.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QProcess>
#include <QTcpSocket>
#include <QTest>
#include <csignal>

namespace {

QString ProgramPath() {
    const QString dir = qEnvironmentVariableIsSet("OSPRINE_BIN") ? qEnvironmentVariable("OSPRINE_BIN")
                                                                 : QCoreApplication::applicationDirPath();
    return dir + "/osprine";
}

}   // namespace

TEST(WindowProgram, ServesMailAndStopsInOrderOnSigterm) {
    if (!QFileInfo(ProgramPath()).isExecutable()) GTEST_SKIP() << "osprine is not built";
    TestBbsOptions options;
    options.port = FreePort();
    TempBbs bbs(options);

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("OSPRINE_HEADLESS");
    env.insert("DISPLAY", ":0");                  // a desktop is there: the window front runs ...
    env.insert("QT_QPA_PLATFORM", "offscreen");   // ... drawn off screen
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(bbs.Layout().mainDir);
    program.start(ProgramPath(), {"/RESETWINDOW"});
    ASSERT_TRUE(program.waitForStarted(5000));

    QTcpSocket client;
    bool greeted = false;
    for (int attempt = 0; attempt < 50 && !greeted; ++attempt) {
        client.abort();
        client.connectToHost(QHostAddress::LocalHost, quint16(options.port));
        if (client.waitForConnected(200))
            greeted = client.waitForReadyRead(3000) && client.readAll().startsWith("220");
        else
            QTest::qWait(100);
    }
    EXPECT_TRUE(greeted);
    client.write("QUIT\r\n");
    client.waitForReadyRead(2000);

    ::kill(pid_t(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    // The window front shows the events in its window, not on standard output.
    EXPECT_EQ(program.readAllStandardOutput(), "");
    const Text log = ReadFileText(bbs.Layout().mainDir + "/OSPRINE.LOG");
    EXPECT_TRUE(log.contains("--- OSPRINE v1.4.060711 Loaded"));
    EXPECT_TRUE(log.contains("--- OSPRINE Unloaded"));
}
