// An account's uploads to a control plane of its own (started here, on loopback) while strangers
// hold bodies open from many addresses of the loopback network, each head naming a device of
// their own and each body one byte long, opened again once the server lets it go (at most once
// a second). Prints how many of the uploads were stored, the strangers' traffic, the server's
// processor time over the uploads and the load average.
//
//   lumora-control-plane-upload-attack [--addresses N] [--packed] [--neighbour] [--fresh]
//       [--accounts N] [--hold KIB] [--uploads N] [--kib N]
//
// --packed puts the addresses into as few /24 networks as they fill (else one network each);
// --neighbour adds two of the longest bodies, sent but their last byte and held, from the uploader's
// own address; --fresh uploads from a device that has made no signed call from its address.
// --accounts makes the strangers N accounts of their own instead, each signed in and proven from
// one of the addresses (in turn) by a signed call, so that their heads vouch for them; --hold
// sends KIB KiB of each of their bodies at once instead of one byte.
#include "ProcessCalls.hpp"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace lumora;
using namespace lumora::testing;

struct Options {
    int addresses = 2000;
    bool packed = false;
    bool neighbour = false;
    bool fresh = false;
    int accounts = 0;
    int holdKiB = 0;
    int uploads = 150;
    int kib = 293;
};

const char* const home = "127.255.255.1";
const QString uploadPath = QStringLiteral("/v1/content/conversations");

// A conversation whose body is some `kib` KiB long (its turns take some 2 KiB each).
QByteArray conversationOf(int kib)
{
    return largeConversation(std::max<qsizetype>(1, qsizetype(kib) / 2));
}

// The strangers: one connection per address, opened again whenever the server ends it.
class Strangers {
public:
    Strangers(const QUrl& base, std::vector<std::pair<std::string, QByteArray>> senders)
        : m_base(base)
        , m_senders(std::move(senders))
    {
        m_sockets.assign(m_senders.size(), -1);
        m_due.assign(m_senders.size(), {});
    }

    void start()
    {
        m_thread = std::thread([this] { run(); });
    }
    // Bytes sent per second since the start.
    double stop()
    {
        m_stopping = true;
        m_thread.join();
        for (const int socket : m_sockets)
            if (socket >= 0)
                ::close(socket);
        return double(m_sent)
            / std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    }
    void setHeads(std::vector<std::pair<std::string, QByteArray>> senders)
    {
        const std::lock_guard lock(m_lock);
        m_senders = std::move(senders);
    }

private:
    void open(std::size_t slot)
    {
        std::pair<std::string, QByteArray> sender;
        {
            const std::lock_guard lock(m_lock);
            sender = m_senders[slot];
        }
        const int socket = connectTo(m_base, sender.first.c_str());
        m_sockets[slot] = socket;
        m_due[slot] = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        if (socket < 0)
            return;
        ::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) | O_NONBLOCK);
        QByteArrayView rest(sender.second);
        while (!rest.isEmpty()) {
            const auto sent = ::send(socket, rest.data(), std::size_t(rest.size()), MSG_NOSIGNAL);
            if (sent <= 0) {
                if (sent < 0 && errno == EAGAIN) {
                    pollfd writable { socket, POLLOUT, 0 };
                    ::poll(&writable, 1, 100);
                    continue;
                }
                break;
            }
            m_sent += std::size_t(sent);
            rest = rest.sliced(sent);
        }
    }

    void run()
    {
        m_started = std::chrono::steady_clock::now();
        std::vector<pollfd> polled(m_sockets.size());
        while (!m_stopping) {
            const auto now = std::chrono::steady_clock::now();
            for (std::size_t slot = 0; slot < m_sockets.size(); ++slot) {
                if (m_sockets[slot] < 0 && now >= m_due[slot])
                    open(slot);
                polled[slot] = pollfd { m_sockets[slot], POLLIN, 0 };
            }
            if (::poll(polled.data(), polled.size(), 20) <= 0)
                continue;
            for (std::size_t slot = 0; slot < polled.size(); ++slot) {
                if (polled[slot].revents == 0)
                    continue;
                char scratch[4096];
                while (::recv(m_sockets[slot], scratch, sizeof scratch, 0) > 0) { }
                // Once the server ends it, opened again, but at most once a second.
                ::close(m_sockets[slot]);
                m_sockets[slot] = -1;
            }
        }
    }

    QUrl m_base;
    std::mutex m_lock;
    std::vector<std::pair<std::string, QByteArray>> m_senders;
    std::vector<int> m_sockets;
    std::vector<std::chrono::steady_clock::time_point> m_due;
    std::atomic<bool> m_stopping { false };
    std::size_t m_sent = 0;
    std::chrono::steady_clock::time_point m_started;
    std::thread m_thread;
};

std::string addressOf(int index, bool packed)
{
    if (packed)
        return "127.1." + std::to_string(index / 250) + '.' + std::to_string(1 + index % 250);
    return "127." + std::to_string(2 + index / 250) + '.' + std::to_string(index % 250) + ".1";
}

// The processor time the process `pid` has used, in seconds.
double processorSeconds(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = file.readAll();
    // The fields after the command's closing parenthesis; user and system time are the 12th and 13th.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return double(fields.value(11).toLongLong() + fields.value(12).toLongLong())
        / double(::sysconf(_SC_CLK_TCK));
}

QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').value(0) : QByteArray("?");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options options;
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& name = arguments[i];
        const int value = i + 1 < arguments.size() ? arguments[i + 1].toInt() : 0;
        if (name == "--addresses")
            options.addresses = value, ++i;
        else if (name == "--uploads")
            options.uploads = value, ++i;
        else if (name == "--kib")
            options.kib = value, ++i;
        else if (name == "--packed")
            options.packed = true;
        else if (name == "--neighbour")
            options.neighbour = true;
        else if (name == "--fresh")
            options.fresh = true;
        else if (name == "--accounts")
            options.accounts = value, ++i;
        else if (name == "--hold")
            options.holdKiB = value, ++i;
        else {
            std::fprintf(stderr, "unknown option %s\n", qPrintable(name));
            return 2;
        }
    }

    ControlPlaneProcess server({ "--dev-sign-in" });
    if (!server.started()) {
        std::fprintf(stderr, "the control plane did not start\n");
        return 1;
    }
    const DeviceIdentity victim(*P256PrivateKey::generate());
    const QUuid device = signInOver(server, victim, "Ada");
    const DeviceIdentity stranger(*P256PrivateKey::generate());
    const QUuid strangerDevice = signInOver(server, stranger, "Mallory");
    if (!options.fresh) {
        SentRequest proof(
            server.baseUrl(), signedRequest(victim, device, "GET", "/v1/account/state", {}), home);
        if (proof.statusLine() != "HTTP/1.1 200 OK") {
            std::fprintf(stderr, "the uploader's signed call failed\n");
            return 1;
        }
    }

    // The crowd's own accounts, each proven from its address.
    struct Member {
        DeviceIdentity identity;
        QUuid device;
        std::string address;
    };
    std::vector<std::unique_ptr<Member>> crowd;
    for (int i = 0; i < options.accounts; ++i) {
        auto member = std::make_unique<Member>(Member { DeviceIdentity(*P256PrivateKey::generate()), {},
            addressOf(i % std::max(1, options.addresses), options.packed) });
        member->device = signInOver(server, member->identity, QStringLiteral("Crowd %1").arg(i));
        SentRequest proof(server.baseUrl(),
            signedRequest(member->identity, member->device, "GET", "/v1/account/state", {}),
            member->address.c_str());
        if (member->device.isNull() || proof.statusLine() != "HTTP/1.1 200 OK") {
            std::fprintf(stderr, "the crowd's account %d could not sign in or prove itself\n", i);
            return 1;
        }
        crowd.push_back(std::move(member));
    }
    const QByteArray held = options.holdKiB > 0 ? QByteArray(options.holdKiB * 1024, ' ') : QByteArray(" ");

    const auto senders = [&] {
        const auto headOf = [&](const DeviceIdentity& identity, const QUuid& signer) {
            return "POST " + uploadPath.toLatin1()
                + " HTTP/1.1\r\nHost: x\r\nContent-Length: 2097152\r\nAuthorization: "
                + signedBy(identity, signer, "POST", uploadPath) + "\r\n\r\n";
        };
        const QByteArray head = headOf(stranger, strangerDevice);
        std::vector<std::pair<std::string, QByteArray>> all;
        for (const auto& member : crowd)
            all.emplace_back(member->address, headOf(member->identity, member->device) + held);
        for (int i = 0; crowd.empty() && i < options.addresses; ++i)
            all.emplace_back(addressOf(i, options.packed), head + ' ');
        if (options.neighbour)
            for (int i = 0; i < 2; ++i)
                all.emplace_back(home, head + QByteArray(2097151, ' '));
        return all;
    };
    Strangers strangers(server.baseUrl(), senders());
    strangers.start();
    // The strangers' first bodies in place.
    std::this_thread::sleep_for(std::chrono::seconds(3));

    int stored = 0;
    int busy = 0;
    const double processorAtStart = processorSeconds(server.processId());
    auto signedAt = std::chrono::steady_clock::now();
    const auto started = signedAt;
    for (int i = 0; i < options.uploads; ++i) {
        // Heads stay within the clock window.
        if (std::chrono::steady_clock::now() - signedAt > std::chrono::minutes(1)) {
            strangers.setHeads(senders());
            signedAt = std::chrono::steady_clock::now();
        }
        // A fresh uploader comes from a network where it has made no call yet, each time.
        const std::string from = options.fresh ? "127.254." + std::to_string(i % 250) + ".1" : home;
        SentRequest upload(server.baseUrl(),
            signedRequest(victim, device, "POST", uploadPath, conversationOf(options.kib)), from.c_str());
        const QByteArray status = upload.statusLine();
        stored += status == "HTTP/1.1 201 Created";
        if (status != "HTTP/1.1 201 Created")
            std::fprintf(stderr, "upload %d: %s\n", i, status.isEmpty() ? "no answer" : status.constData());
        busy += status.startsWith("HTTP/1.1 503");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        // Reads what the server logged, lest its full pipe stop it.
        QCoreApplication::processEvents();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double processor = processorSeconds(server.processId()) - processorAtStart;
    const double rate = strangers.stop();
    std::printf(
        "addresses %d (%s), accounts %d holding %d KiB each, neighbour %s, uploader %s: %d of %d uploads of "
        "%d KiB stored, %d refused busy, in %.0f s; strangers sent %.1f Mbit/s; server processor %.1f s; "
        "load average %s\n",
        options.addresses, options.packed ? "packed in /24s" : "one /24 each", options.accounts,
        options.holdKiB, options.neighbour ? "yes" : "no", options.fresh ? "fresh" : "proven", stored,
        options.uploads, options.kib, busy, seconds, rate * 8 / 1e6, processor, loadAverage().constData());
    server.stop();
    return 0;
}
