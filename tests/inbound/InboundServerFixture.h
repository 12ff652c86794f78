#pragma once
// The inbound server on a loopback port with real client sockets, all on
// the test's event loop. Every wait is bounded in time. The clock of the
// idle time-outs is the test's own, so minutes of silence take no time;
// the intake is a recorder that answers at once or when the test says.
#include "server/inbound/InboundServer.h"
#include "tests/inbound/InboundFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <optional>

inline void RunEventsFor(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
}

template <typename Done>
bool RunEventsUntil(Done done, int ms = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() >= ms) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

// A port the settings record can hold (1 to 32767) that is free just now.
inline quint16 FreeSettingsPort() {
    for (int attempt = 0; attempt < 200; ++attempt) {
        const quint16 port = quint16(20000 + QRandomGenerator::global()->bounded(12000));
        QTcpServer probe;
        if (probe.listen(QHostAddress::AnyIPv4, port)) return port;
    }
    ADD_FAILURE() << "no free port";
    return 0;
}

class TestClient {
public:
    TestClient() {
        QObject::connect(&socket_, &QTcpSocket::connected, [this] { connected_ = true; });
    }
    // The server may close at once (a refusal): having been connected counts.
    bool Connect(quint16 port) {
        socket_.connectToHost(QHostAddress::LocalHost, port);
        return RunEventsUntil([&] { return connected_; });
    }
    void Send(const Text& bytes) {
        socket_.write(bytes);
        socket_.flush();
    }
    void Say(const Text& line) { Send(line + "\r\n"); }
    // The next reply line without its CR LF; nullopt when none came in time.
    std::optional<Text> ReadLine(int ms = 5000) {
        if (!RunEventsUntil(
                [&] {
                    Pull();
                    return buffer_.contains('\n');
                },
                ms))
            return std::nullopt;
        const qsizetype end = buffer_.indexOf('\n');
        Text line = buffer_.left(end);
        buffer_.remove(0, end + 1);
        if (line.endsWith('\r')) line.chop(1);
        return line;
    }
    std::optional<Text> Ask(const Text& line) {
        Say(line);
        return ReadLine();
    }
    // Whatever arrived within `ms`.
    Text ReadFor(int ms) {
        RunEventsFor(ms);
        Pull();
        Text out;
        out.swap(buffer_);
        return out;
    }
    bool WaitClosed(int ms = 5000) {
        return RunEventsUntil(
            [&] {
                Pull();
                return socket_.state() == QAbstractSocket::UnconnectedState;
            },
            ms);
    }
    void Close() { socket_.abort(); }
    QTcpSocket& Socket() { return socket_; }

private:
    void Pull() { buffer_ += socket_.readAll(); }
    QTcpSocket socket_;
    Text buffer_;
    bool connected_ = false;
};

class RecordingSaver : public MessageSaver {
public:
    void SaveMessage(const ReceivedMessage& message, std::function<void(SaveResult)> done) override {
        messages.append(message);
        if (answerAtOnce)
            done(*answerAtOnce);
        else
            pending.append(std::move(done));
    }
    QList<ReceivedMessage> messages;
    std::optional<SaveResult> answerAtOnce = SaveResult::Saved;
    QList<std::function<void(SaveResult)>> pending;
};

class InboundServerTest : public ::testing::Test {
protected:
    void StartServer(int16_t maxConnections = 10) {
        install.settings.Port = int16_t(FreeSettingsPort());
        install.settings.MaxConnections = maxConnections;
        install.run.ServerState = ServerPhase::Online;
        install.run.AcceptLock.OpenForTick();
        server = std::make_unique<InboundServer>(install.ctx, saver);
        server->SetClock([this] { return now; });
        server->OpenListenPort();
        ASSERT_TRUE(server->IsListening());
    }
    quint16 Port() const { return quint16(install.settings.Port); }
    // Timer1: the lock is released and one held-back connection taken
    // (or as many as "acceptrate" lets in).
    void Timer1() {
        install.run.AcceptLock.OpenForTick(server->AdmissionsPerTick());
        server->AcceptPending();
    }
    void Timer2() { ASSERT_TRUE(server->SupervisionTick()); }
    // A client that has read the two greeting lines.
    std::unique_ptr<TestClient> Greeted() {
        Timer1();
        auto client = std::make_unique<TestClient>();
        EXPECT_TRUE(client->Connect(Port()));
        const auto first = client->ReadLine();
        EXPECT_TRUE(first && first->startsWith("220-"));
        EXPECT_EQ(client->ReadLine(), Text("220 All transactions and IP addresses are logged."));
        return client;
    }

    InboundInstall install;
    RecordingSaver saver;
    std::unique_ptr<InboundServer> server;
    int64_t now = 1000000;
};
