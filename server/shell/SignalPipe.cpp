#include "server/shell/SignalPipe.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <csignal>

namespace {
int g_pipe[2] = {-1, -1};

void Forward(int signal) {
    const char code = char(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &code, 1);
}
}   // namespace

SignalPipe::SignalPipe(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {}

bool SignalPipe::Install(std::initializer_list<int> caught) {
    if (g_pipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_pipe) != 0) return false;
    notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalPipe::Drain);
    struct sigaction action {};
    action.sa_handler = Forward;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : caught) sigaction(s, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

// Every signal that arrived since the last pass, in order.
void SignalPipe::Drain() {
    char codes[16];
    const ssize_t n = ::recv(g_pipe[0], codes, sizeof codes, MSG_DONTWAIT);
    for (ssize_t i = 0; i < n; ++i)
        if (onSignal_) onSignal_(codes[i]);
}
