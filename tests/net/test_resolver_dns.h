#pragma once
// A real DNS server for tests: Debian's dnsmasq on a loopback port, serving
// only the records a test gives it (no upstream, no hosts file). And a UDP
// port on loopback that swallows every query, for a server that never answers.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QStringList>
#include <QThread>
#include <QUdpSocket>

class TestDnsServer {
public:
    // `records` are dnsmasq options such as "--address=/a.test/127.0.0.2".
    explicit TestDnsServer(const QStringList& records) {
        port_ = FreeUdpPort();
        QStringList args{"--no-daemon",
                         "--keep-in-foreground",
                         "--port=" + QString::number(port_),
                         "--listen-address=127.0.0.1",
                         "--bind-interfaces",
                         "--no-resolv",
                         "--no-hosts",
                         "--conf-file=/dev/null",
                         "--pid-file="};
        args += records;
        process_.setProgram("/usr/sbin/dnsmasq");
        process_.setArguments(args);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start();
        started_ = process_.waitForStarted(5000) && WaitForPort();
    }
    ~TestDnsServer() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(3000)) {
                process_.kill();
                process_.waitForFinished(3000);
            }
        }
    }
    bool Started() const { return started_; }
    QString Output() { return QString::fromLocal8Bit(process_.readAll()); }
    // The value for OSPRINE_NAMESERVERS.
    QByteArray Servers() const { return "127.0.0.1:" + QByteArray::number(port_); }
    quint16 Port() const { return port_; }

    static quint16 FreeUdpPort() {
        QUdpSocket probe;
        probe.bind(QHostAddress::LocalHost, 0);
        return probe.localPort();
    }

private:
    // dnsmasq is ready once its UDP port is taken (bounded: 5 s).
    bool WaitForPort() {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000 && process_.state() == QProcess::Running) {
            QUdpSocket probe;
            if (!probe.bind(QHostAddress::LocalHost, port_)) return true;
            probe.close();
            QThread::msleep(50);
        }
        return false;
    }

    QProcess process_;
    quint16 port_ = 0;
    bool started_ = false;
};

// A name server that reads every query and never answers.
class SilentDnsServer {
public:
    SilentDnsServer() {
        socket_.bind(QHostAddress::LocalHost, 0);
        QObject::connect(&socket_, &QUdpSocket::readyRead, [this] {
            while (socket_.hasPendingDatagrams()) {
                socket_.receiveDatagram();
                ++queries_;
            }
        });
    }
    QByteArray Servers() const { return "127.0.0.1:" + QByteArray::number(socket_.localPort()); }
    // The questions it was asked (and never answered).
    int Queries() const { return queries_; }

private:
    QUdpSocket socket_;
    int queries_ = 0;
};
