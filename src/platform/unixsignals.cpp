#include "unixsignals.h"

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

// The handler may only do async-signal-safe work: it writes the signal number into a socket
// that the event loop watches.
int g_signalSocket[2] = {-1, -1};

void onSignal(int signalNumber)
{
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_signalSocket[0], &number, 1);
}

} // namespace

UnixSignals::UnixSignals(QObject* parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalSocket) != 0)
        return;
    m_notifier = new QSocketNotifier(g_signalSocket[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UnixSignals::readSignal);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(number, &action, nullptr);
}

UnixSignals::~UnixSignals()
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    for (int number : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(number, &action, nullptr);
    for (int& fd : g_signalSocket) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void UnixSignals::readSignal()
{
    unsigned char number = 0;
    if (::read(g_signalSocket[1], &number, 1) == 1)
        emit terminationRequested(number);
}
