#include "server/outbound/Pop3Login.h"

Pop3Login::Pop3Login(QObject* parent) : QObject(parent)
{
    limit_.setSingleShot(true);
    limit_.setTimerType(Qt::PreciseTimer);  // a coarse timer may end a limit early
    connect(&limit_, &QTimer::timeout, this, &Pop3Login::Finish);
    connect(&socket_, &QTcpSocket::readyRead, this, &Pop3Login::OnDataArrival);
    connect(&socket_, &QTcpSocket::disconnected, this, &Pop3Login::Finish);
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) { Finish(); });
}

void Pop3Login::Start(const Text& host, quint16 port, const Text& user, const Text& password, int limitMs)
{
    Abort();
    user_ = user;
    password_ = password;
    state_ = 0;
    quitSent_ = false;
    active_ = true;
    limit_.start(limitMs);
    socket_.connectToHost(QString::fromLatin1(host), port);
}

void Pop3Login::Abort()
{
    active_ = false;
    limit_.stop();
    socket_.abort();
}

void Pop3Login::Send(const Text& line)
{
    socket_.write(line + CRLF);
}

void Pop3Login::OnDataArrival()
{
    socket_.readAll();
    if (!active_ || quitSent_)
        return;
    switch (state_) {
    case 0:
        state_ = 1;
        Send("USER " + user_);
        break;
    case 1:
        state_ = 2;
        Send("PASS " + password_);
        break;
    default:
        // The log-in is over once the server has closed after QUIT.
        state_ = 0;
        quitSent_ = true;
        Send("QUIT");
        socket_.disconnectFromHost();
        break;
    }
}

void Pop3Login::Finish()
{
    if (!active_)
        return;
    active_ = false;
    limit_.stop();
    socket_.abort();
    emit finished();
}
