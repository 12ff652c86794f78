#pragma once
// The Python servers of the outbound tests, started as child processes on
// loopback: aiosmtpd as the upstream SMTP server and a scripted POP3 server.
// Each prints "PORT <n>" when it accepts connections and records what it
// reads in a file.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include "server/store/Text.h"
#include "tests/support/TestFiles.h"

// Runs the event loop until `done` holds or `ms` passed; true when it holds.
inline bool SpinUntil(const std::function<bool()>& done, int ms) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

class ScriptedServer {
public:
    ScriptedServer(const QString& script, QStringList arguments) {
        const QString path = TestFile("outbound/" + script);
        process_.setProgram(QStringLiteral("/usr/bin/python3"));
        process_.setArguments(QStringList{path} + arguments);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
        if (!process_.waitForStarted(10000)) {
            ADD_FAILURE() << "cannot start " << path.toStdString();
            return;
        }
        QDeadlineTimer deadline(15000);
        while (!process_.canReadLine() && !deadline.hasExpired()) process_.waitForReadyRead(200);
        const QByteArray line = process_.readLine().trimmed();
        if (!line.startsWith("PORT "))
            ADD_FAILURE() << script.toStdString() << " did not start: " << line.toStdString();
        port_ = quint16(line.mid(5).toUInt());
    }
    ~ScriptedServer() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    quint16 Port() const { return port_; }

private:
    QProcess process_;
    quint16 port_ = 0;
};

// aiosmtpd with scripted replies; see upstream_smtp.py for the script keys.
class Upstream {
    QTemporaryDir dir_;   // first: the members below use it

public:
    struct Message {
        Text mailFrom;
        QStringList rcptTos;
        Text content;
    };

    explicit Upstream(const QJsonObject& script = {})
        : config_(WriteConfig(dir_, script)),
          server_("upstream_smtp.py", {"--config", config_, "--record", dir_.filePath("record.jsonl")}) {}
    quint16 Port() const { return server_.Port(); }

    // Every line read, as sent (line end and transparency dots included).
    TextList Lines() const {
        TextList lines;
        for (const QJsonObject& e : Records())
            if (e["kind"].toString() == "line") lines.append(QByteArray::fromBase64(e["data"].toString().toLatin1()));
        return lines;
    }
    QList<Message> Messages() const {
        QList<Message> messages;
        for (const QJsonObject& e : Records()) {
            if (e["kind"].toString() != "message") continue;
            QStringList to;
            for (const auto& r : e["rcpt_tos"].toArray()) to.append(r.toString());
            messages.append(
                {e["mail_from"].toString().toLatin1(), to, QByteArray::fromBase64(e["content"].toString().toLatin1())});
        }
        return messages;
    }
    // The same without their line ends.
    TextList Commands() const {
        TextList out;
        for (const Text& line : Lines()) out.append(line.chopped(2));
        return out;
    }
    // The server reads the client's last line a moment after the client closed.
    bool WaitForLine(const Text& line, int ms = 5000) const {
        return SpinUntil([&] { return Lines().contains(line); }, ms);
    }

private:
    static QString WriteConfig(const QTemporaryDir& dir, const QJsonObject& script) {
        const QString path = dir.filePath("config.json");
        QFile f(path);
        if (f.open(QIODevice::WriteOnly)) f.write(QJsonDocument(script).toJson());
        return path;
    }
    QList<QJsonObject> Records() const {
        QList<QJsonObject> out;
        QFile f(dir_.filePath("record.jsonl"));
        if (!f.open(QIODevice::ReadOnly)) return out;
        while (!f.atEnd()) {
            const QByteArray line = f.readLine();
            const QJsonDocument doc = QJsonDocument::fromJson(line);
            if (doc.isObject()) out.append(doc.object());
        }
        return out;
    }

    QString config_;
    ScriptedServer server_;
};

// The POP3 server; Received() is what it read, in order. `arguments` as
// pop3_server.py takes them (--password, --cert, --key, --implicit).
class Pop3Server {
    QTemporaryDir dir_;   // first: the server below uses it

public:
    explicit Pop3Server(const QStringList& arguments = {})
        : server_("pop3_server.py", QStringList{"--record", dir_.filePath("pop3.txt")} + arguments) {}
    quint16 Port() const { return server_.Port(); }
    Text Received() const {
        QFile f(dir_.filePath("pop3.txt"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : Text();
    }

private:
    ScriptedServer server_;
};
