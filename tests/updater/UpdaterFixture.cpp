#include "tests/updater/UpdaterFixture.h"
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QUrl>

// The service: each GET target maps to files named by its percent-encoding:
// .body (missing: 404), .status and .delay (seconds before answering).
static const char* const kServerScript = R"PY(
import http.server, os, sys, time, urllib.parse
root = sys.argv[1]

class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def read(self, name, default):
        try:
            with open(os.path.join(root, name), 'rb') as f:
                return f.read()
        except OSError:
            return default

    def do_GET(self):
        with open(os.path.join(root, 'requests.log'), 'ab') as log:
            log.write(self.path.encode('latin-1') + b'\t' +
                      self.headers.get('If-Modified-Since', '').encode('latin-1') + b'\n')
        key = urllib.parse.quote(self.path, safe='')
        body = self.read(key + '.body', None)
        status = int(self.read(key + '.status', b'200' if body is not None else b'404'))
        time.sleep(float(self.read(key + '.delay', b'0')))
        body = body or b''
        try:
            self.send_response(status)
            self.send_header('Content-Type', 'text/plain')
            self.send_header('Content-Length', str(len(body)))
            self.end_headers()
            self.wfile.write(body)
        except OSError:
            pass

server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
server.daemon_threads = True
print('PORT', server.server_address[1], flush=True)
server.serve_forever()
)PY";

FixtureServer::FixtureServer() {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromLatin1(kServerScript), dir_.path()});
    QElapsedTimer clock;
    clock.start();
    Text line;
    while (!line.endsWith('\n') && clock.elapsed() < 15000 && process_.waitForReadyRead(1000))
        line += process_.readLine();
    if (line.startsWith("PORT ")) port_ = line.mid(5).trimmed().toInt();
    if (port_ == 0) ADD_FAILURE() << "the fixture HTTP server did not start";
}

FixtureServer::~FixtureServer() {
    process_.kill();
    process_.waitForFinished(5000);
}

static void WriteFile(const QString& path, const Text& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(content);
}

void FixtureServer::Reply(const Text& target, const Text& body, int status, int delaySeconds) {
    const QString key = dir_.path() + "/" + QString::fromLatin1(QUrl::toPercentEncoding(QString::fromLatin1(target)));
    WriteFile(key + ".body", body);
    WriteFile(key + ".status", Text::number(status));
    WriteFile(key + ".delay", Text::number(delaySeconds));
}

void FixtureServer::UpdateList(const Text& typeWord, const Text& body, int status, int delaySeconds) {
    Reply(kListTarget + typeWord + kVersionQuery, body, status, delaySeconds);
}

QList<Text> FixtureServer::Requests() const {
    QFile log(dir_.path() + "/requests.log");
    if (!log.open(QIODevice::ReadOnly)) return {};
    QList<Text> lines = log.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

UpdaterBbs::UpdaterBbs() {
    Text record = dir_.path().toLatin1().leftJustified(400, ' ');
    WriteFile(Path("SYSPATHS.CFG"), record);
}

void UpdaterBbs::Install(const QString& exeName, const QDate& fileDate) {
    WriteFile(Path(exeName), "MZ");
    QFile file(Path(exeName));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.setFileTime(QDateTime(fileDate, QTime(12, 0)), QFileDevice::FileModificationTime);
}

void UpdaterBbs::SetVersion(int offset, const Text& version) {
    Text record = VersionRecord();
    if (record.size() < 96) record = record.leftJustified(96, ' ');
    record.replace(offset, 15, version.leftJustified(15, ' '));
    WriteFile(Path("ZRVDATA.DAT"), record);
}

void UpdaterBbs::SetUpdateTypeSetting(qint16 type) {
    Text record(148, 'x');
    record[132] = static_cast<char>(type & 0xFF);
    record[133] = static_cast<char>((type >> 8) & 0xFF);
    WriteFile(Path("ZARVEL.CFG"), record);
}

static Text ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : Text();
}

Text UpdaterBbs::VersionRecord() const { return ReadFile(Path("ZRVDATA.DAT")); }
Text UpdaterBbs::ErrorLog() const { return ReadFile(Path("ZRVERROR.LOG")); }

CurrentDirectory::CurrentDirectory(const QString& dir) : previous_(QDir::currentPath()) { QDir::setCurrent(dir); }
CurrentDirectory::~CurrentDirectory() { QDir::setCurrent(previous_); }

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    if (condition()) return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition()) loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(5);
    loop.exec();
    return condition();
}
