#include "server/ui/StopSignals.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_stopPipe[2] = {-1, -1};

void OnStopSignal(int signal) {
    const char code = char(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_stopPipe[1], &code, 1);
}

}  // namespace

StopSignals::StopSignals(std::function<void()> onStop, QObject* parent) : QObject(parent), onStop_(std::move(onStop)) {}

bool StopSignals::Install() {
    if (g_stopPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_stopPipe) != 0) return false;
    notifier_ = new QSocketNotifier(g_stopPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char codes[16];
        if (::recv(g_stopPipe[0], codes, sizeof codes, MSG_DONTWAIT) > 0 && onStop_) onStop_();
    });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT}) sigaction(s, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}
