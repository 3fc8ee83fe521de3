#include "ProcessSignals.hpp"

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace lumora {

namespace {

// One socket pair per signal number, made on first use and kept for the process.
int signalPairs[NSIG][2];
bool signalPairMade[NSIG] = {};

void onSignal(int number)
{
    const char byte = 1;
    // Nothing can be done about a full pipe here; one pending byte is enough anyway.
    [[maybe_unused]] const ssize_t written = ::write(signalPairs[number][0], &byte, 1);
}

} // namespace

ProcessSignals::ProcessSignals(QList<int> numbers, QObject* parent)
    : QObject(parent)
    , m_numbers(std::move(numbers))
{
    for (const int number : std::as_const(m_numbers)) {
        if (number <= 0 || number >= NSIG)
            return;
        if (!signalPairMade[number]) {
            if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPairs[number])
                != 0)
                return;
            signalPairMade[number] = true;
        }
        struct sigaction action = {};
        action.sa_handler = &onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        if (::sigaction(number, &action, nullptr) != 0)
            return;
        auto notifier = std::make_unique<QSocketNotifier>(signalPairs[number][1], QSocketNotifier::Read);
        connect(notifier.get(), &QSocketNotifier::activated, this, [this, number] {
            char bytes[16];
            while (::read(signalPairs[number][1], bytes, sizeof bytes) > 0) { }
            emit received();
        });
        m_notifiers.push_back(std::move(notifier));
    }
}

ProcessSignals::~ProcessSignals()
{
    struct sigaction standard = {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    for (std::size_t index = 0; index < m_notifiers.size(); ++index)
        ::sigaction(m_numbers[qsizetype(index)], &standard, nullptr);
}

} // namespace lumora
