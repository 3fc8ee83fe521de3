#include "TerminationSignals.hpp"

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace lumora {

namespace {

int signalPair[2] = { -1, -1 };

void onTerminationSignal(int)
{
    const char byte = 1;
    // Nothing can be done about a full pipe here; one pending byte is enough anyway.
    [[maybe_unused]] const ssize_t written = ::write(signalPair[0], &byte, 1);
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent)
{
    if (signalPair[0] < 0
        && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPair) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = &onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGTERM, &action, nullptr) != 0 || ::sigaction(SIGINT, &action, nullptr) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(signalPair[1], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(signalPair[1], bytes, sizeof bytes) > 0) { }
        emit terminationRequested();
    });
}

TerminationSignals::~TerminationSignals()
{
    if (!m_notifier)
        return;
    struct sigaction standard = {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    ::sigaction(SIGTERM, &standard, nullptr);
    ::sigaction(SIGINT, &standard, nullptr);
}

} // namespace lumora
