#include "server/outbound/OutboundClient.h"
#include "server/net/Base64.h"
#include "server/outbound/OutboundText.h"
#include "server/outbound/ReplyCode.h"
#include "server/outbound/ReturnMessage.h"
#include "server/store/Dates.h"
#include "server/store/ErrorLog.h"
#include "server/store/Version.h"
#include <exception>

namespace {
constexpr int16_t kSocketSlot = 0;
}  // namespace

OutboundClient::OutboundClient(ServerContext& ctx, QObject* parent)
    : QObject(parent), ctx_(ctx), queue_(ctx)
{
    connectWait_.setSingleShot(true);
    replyLimit_.setSingleShot(true);
    replyLimit_.setTimerType(Qt::PreciseTimer);  // a coarse timer may end a limit early
    connect(&connectWait_, &QTimer::timeout, this, &OutboundClient::OnConnectWaitOver);
    connect(&replyLimit_, &QTimer::timeout, this, &OutboundClient::OnReplyTimeout);
    connect(&pop3_, &Pop3Login::finished, this, &OutboundClient::AfterLogin);
    connect(&sckConnect_, &QTcpSocket::connected, this, &OutboundClient::OnConnected);
    connect(&sckConnect_, &QTcpSocket::readyRead, this, &OutboundClient::sckConnect_DataArrival);
    // A long message on a slow line: the reply's limit counts from the last
    // progress of the send, not from its start.
    connect(&sckConnect_, &QTcpSocket::bytesWritten, this, [this] {
        if (replyLimit_.isActive())
            replyLimit_.start();
    });
    connect(&sckConnect_, &QTcpSocket::disconnected, this, &OutboundClient::sckConnect_Close);
    connect(&sckConnect_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) { OnSocketError(); });
}

OutboundClient::~OutboundClient()
{
    Close();
}

bool OutboundClient::IsConnected() const
{
    return sckConnect_.state() == QAbstractSocket::ConnectedState;
}

bool OutboundClient::Busy() const
{
    return starting_ || state_ != kGreeting || sckConnect_.state() != QAbstractSocket::UnconnectedState;
}

void OutboundClient::Close()
{
    pop3_.Abort();
    connectWait_.stop();
    replyLimit_.stop();
    starting_ = false;
    sckConnect_.abort();
}

// ---- Starting a connection ------------------------------------------------

void OutboundClient::Timer4_Timer()
{
    if (Trim(ctx_.bbs.queueDir).isEmpty() || ctx_.run.ServerState == -1 || Busy())
        return;
    if (queue_.HasQueuedFiles())
        SendOutbound();
}

void OutboundClient::SendOutbound()
{
    const SettingsRecord& s = ctx_.settings;
    if (Trim(s.ClientHost).isEmpty() || s.ClientPort == 0 || IsConnected() || !queue_.HasQueuedFiles())
        return;
    // From here until the connection is made a second tick finds the client busy.
    starting_ = true;
    if (s.Pop3Before == 1 && !Trim(s.Pop3Host).isEmpty() && !Trim(s.Pop3Username).isEmpty() &&
        !Trim(s.Pop3Password).isEmpty()) {
        ConnectPop3();
        return;
    }
    AfterLogin();
}

void OutboundClient::ConnectPop3()
{
    const SettingsRecord& s = ctx_.settings;
    pop3_.Start(Trim(s.Pop3Host), quint16(s.Pop3Port), Trim(s.Pop3Username), Trim(s.Pop3Password),
                timeouts_.pop3Ms);
}

// The rest of SendOutbound, once the POP3 log-in (if any) is over.
void OutboundClient::AfterLogin()
{
    if (ctx_.run.ServerState == -1) {
        starting_ = false;
        return;
    }
    state_ = kGreeting;
    awaiting_ = false;
    queue_.Clear();
    queue_.Refresh();
    if (queue_.Count() > 0)
        queue_.LoadOutboundMessage(0);
    if (queue_.Loaded().IsEmpty()) {
        starting_ = false;
        return;
    }
    ConnectUpstream();
}

void OutboundClient::ConnectUpstream()
{
    const Text host = Trim(ctx_.settings.ClientHost);
    replies_.Clear();
    connected_ = false;
    connectCounted_ = false;
    sckConnect_.abort();
    sckConnect_.connectToHost(QString::fromLatin1(host), quint16(ctx_.settings.ClientPort));
    ctx_.log.ReportServer("Outbound Socket Initiated To: " + host);
    connectWait_.start(timeouts_.connectMs);
    replyLimit_.start(timeouts_.replyMs);   // the greeting's limit
}

void OutboundClient::CountConnection()
{
    starting_ = false;
    connectWait_.stop();
    if (connectCounted_)
        return;
    connectCounted_ = true;
    ctx_.stats.TotalConnections += 1;
    ctx_.stats.TotalOutgoing += 1;
    ctx_.stats.UpdateStats();
}

void OutboundClient::OnConnected()
{
    connected_ = true;
    CountConnection();
}

// A connection still pending after the wait counts as made; the greeting's
// limit and the socket's own failure report end it otherwise.
void OutboundClient::OnConnectWaitOver()
{
    if (sckConnect_.state() == QAbstractSocket::ConnectingState ||
        sckConnect_.state() == QAbstractSocket::HostLookupState)
        CountConnection();
}

void OutboundClient::OnSocketError()
{
    if (state_ == kClosed)
        return;
    if (!connected_) {
        ctx_.log.ReportServer("SMTP server host did not respond.");
        starting_ = false;
    }
    sckConnect_Close();
}

// ---- The dialogue ----------------------------------------------------------

void OutboundClient::sckConnect_DataArrival()
{
    const Text data = sckConnect_.readAll();
    if (ctx_.run.ServerState == -1 || state_ == kClosed)
        return;
    try {
        // A reply that overtakes our own send is not the answer to it.
        if (sckConnect_.bytesToWrite() > 0) {
            replies_.Clear();
            return;
        }
        const std::optional<Text> line = replies_.Append(data);
        if (replies_.Overflowed()) {
            ctx_.log.ReportServer("SMTP server reply too long.");
            sckConnect_Close();
            return;
        }
        if (line)
            HandleReply(*line);
    } catch (const std::exception& fault) {
        LogError("sckConnect_DataArrival", kVersion, "frmMain", fault.what());
        sckConnect_Close();
    }
}

void OutboundClient::HandleReply(const Text& line)
{
    const int16_t code = GetReplyCode(line, 0);
    if (code == 0)
        return;
    replyLimit_.stop();
    ctx_.log.Report(kSocketSlot, "--> " + line);
    if (GetReplyCode(line, 1) == 5) {
        // The reset's reply concerns no message: the one in hand is untried.
        if (state_ != kReset)
            ReturnMessage(ctx_, queue_.CurrentFileName());
        state_ = kQuit;
    }
    for (int step = 0; step < 3; ++step)
        if (Step(code))
            return;
}

bool OutboundClient::AuthWanted() const
{
    const SettingsRecord& s = ctx_.settings;
    return s.ClientAuth == 1 && !Trim(s.AuthUsername).isEmpty() && !Trim(s.AuthPassword).isEmpty();
}

// One step of the state machine. True when the handling of the reply ends
// (a command went out, or there is nothing to do).
bool OutboundClient::Step(int16_t code)
{
    const LoadedMessage& message = queue_.Loaded();
    switch (state_) {
    case kGreeting:
        state_ = code == 220 ? kEhlo : kQuit;
        return false;
    case kEhlo:
        if (!awaiting_) {
            SendCommand("EHLO " + ctx_.bbs.systemId);
            return true;
        }
        awaiting_ = false;
        state_ = code == 250 ? (AuthWanted() ? kAuth : kMail) : kHelo;
        return false;
    case kHelo:
        if (!awaiting_) {
            SendCommand("HELO " + ctx_.bbs.systemId);
            return true;
        }
        if (code == 250) {
            awaiting_ = false;
            state_ = AuthWanted() ? kAuth : kMail;
        } else {
            state_ = kQuit;
        }
        return false;
    case kMail:
        if (!awaiting_) {
            SendCommand(IsReturnedMessage(message.text) ? Text("MAIL From:<>")
                                                        : "MAIL From:<" + message.sender + ">");
            return true;
        }
        if (code == 250) {
            awaiting_ = false;
            state_ = kRcpt;
        } else {
            GoToNextMessage(false);
        }
        return false;
    case kRcpt:
        if (!awaiting_) {
            SendCommand("RCPT To:<" + message.recipient + ">");
            return true;
        }
        if (code == 250) {
            awaiting_ = false;
            state_ = kData;
        } else {
            GoToNextMessage(true);
        }
        return false;
    case kData:
        if (!awaiting_) {
            SendCommand("DATA");
            return true;
        }
        if (code == 354) {
            awaiting_ = false;
            state_ = kBody;
        } else {
            GoToNextMessage(true);
        }
        return false;
    case kBody:
        if (!awaiting_) {
            SendBody();
            return true;
        }
        if (code == 250)
            queue_.DeleteCurrent();
        GoToNextMessage(false);
        return false;
    case kQuit:
        SendCommand("QUIT");
        sckConnect_Close();
        return true;
    case kAuth:
        if (!awaiting_) {
            SendCommand("AUTH LOGIN");
            return true;
        }
        awaiting_ = false;
        state_ = code == 334 ? kAuthUser : kMail;
        return false;
    case kAuthUser:
        if (!awaiting_) {
            ShowAuth("Username Sent.");
            SendSecret(Trim(ctx_.settings.AuthUsername));
            return true;
        }
        awaiting_ = false;
        state_ = code == 334 ? kAuthPassword : kMail;
        return false;
    case kAuthPassword:
        if (!awaiting_) {
            ShowAuth("Password Sent.");
            SendSecret(Trim(ctx_.settings.AuthPassword));
            return true;
        }
        ShowAuth(code == 235 ? "Authentication successful." : "Authentication failed.");
        awaiting_ = false;
        state_ = kMail;
        return false;
    case kReset:
        if (!awaiting_) {
            SendCommand("RSET");
            return true;
        }
        awaiting_ = false;
        state_ = kMail;
        return false;
    default:
        return true;
    }
}

// After a message is finished: the next due one on the same connection, or QUIT.
void OutboundClient::GoToNextMessage(bool transactionOpen)
{
    if (queue_.AtLastPosition()) {
        state_ = kQuit;
        return;
    }
    queue_.LoadOutboundMessage(queue_.Position() + 1);
    if (queue_.Loaded().IsEmpty()) {
        state_ = kQuit;
        return;
    }
    awaiting_ = false;
    // An accepted MAIL left a transaction open: end it before the next MAIL.
    state_ = transactionOpen ? kReset : kMail;
}

void OutboundClient::SendCommand(const Text& line)
{
    awaiting_ = true;
    ctx_.log.Report(kSocketSlot, "<-- " + line);
    SendClientMessage(line + CRLF, timeouts_.replyMs);
}

// The user name and password travel in Base64 on one line and are never shown.
void OutboundClient::SendSecret(const Text& secret)
{
    awaiting_ = true;
    const Text encoded = clsBase64::Encode(secret).replace("\r\n", "");
    SendClientMessage(encoded + CRLF, timeouts_.replyMs);
}

void OutboundClient::ShowAuth(const Text& message)
{
    ctx_.log.Report(kSocketSlot, message);
}

void OutboundClient::SendClientMessage(const Text& text, int replyLimitMs)
{
    if (!IsConnected())
        return;
    sckConnect_.write(text);
    replyLimit_.start(replyLimitMs);
}

void OutboundClient::SendBody()
{
    const Text body = AddTransparencyDots(RemoveTrackingHeaders(queue_.Loaded().text));
    awaiting_ = true;
    SendClientMessage(body + "\r\n.\r\n", timeouts_.bodyReplyMs);
    ctx_.log.Report(kSocketSlot, "<-- Sent " + NumText(body.size()) + " bytes.");
    ctx_.stats.TotalSent += 1;
    ctx_.stats.KBSent += float(body.size()) / 1024.0f;
    ctx_.stats.UpdateStats();
}

// RFC 5321 reply limits: a silent server ends the connection; the message
// in hand stays queued.
void OutboundClient::OnReplyTimeout()
{
    if (state_ == kClosed)
        return;
    ctx_.log.ReportServer("SMTP server did not reply in time.");
    sckConnect_Close();
}

// The connection has ended (either side). The supervision tick resets.
void OutboundClient::sckConnect_Close()
{
    if (state_ == kClosed)
        return;
    state_ = kClosed;
    starting_ = false;
    connectWait_.stop();
    replyLimit_.stop();
    // Lets a QUIT just written go out before the close.
    if (sckConnect_.state() != QAbstractSocket::UnconnectedState)
        sckConnect_.disconnectFromHost();
    emit connectionEnded();
}

void OutboundClient::SupervisionTick()
{
    if (state_ != kClosed)
        return;
    ctx_.log.ShowEvent(TimeText() + " : Socket 0 Closed");
    ctx_.log.OsprineLog(kSocketSlot, "Connection Terminated");
    ResetClient();
}

void OutboundClient::ResetClient()
{
    // First, while the state is still 100: dropping a connection that is
    // still closing reports its end once more, which is then ignored.
    sckConnect_.abort();
    state_ = kGreeting;
    awaiting_ = false;
    starting_ = false;
    queue_.Clear();
    replies_.Clear();
    connectWait_.stop();
    replyLimit_.stop();
    ctx_.stats.UpdateStats();
}
