// Floods of connections against a running server over TLS, from another loopback address, while
// sign-ins (or any request) come from 127.0.0.1 once a second: how many are answered within
// 10 s, and how soon. Prints one line of figures with the load average.
//
//   lumora-connection-flood PORT left-open [--rate N] [--seconds S] [--probe PATH]
//       [--attackers THREADS] [--patience SECONDS]
//       connections that send a request with "Connection: close" and then neither read their
//       answer nor close (nor answer the TLS close), each held for 30 s
//   lumora-connection-flood PORT hellos --groups G [--rate N] [--seconds S] [--probe PATH]
//       one recorded ClientHello offering only the groups G, sent on a new connection each time:
//       the server does the key exchange, the client nothing
//   lumora-connection-flood PORT handshake-cost --groups G --pid PID [--count N]
//       N handshakes one after another offering only G, and the server's CPU per handshake
//
// The probe is POST /v1/auth/apple/web/start (a sign-in's first step) unless --probe names a
// path to GET instead (any answer counts).
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Options {
    int port = 0;
    std::string mode;
    double rate = 200;
    int seconds = 60;
    std::string groups = "X25519";
    std::string probe;
    long pid = 0;
    int count = 200;
    // The attacker's threads, and how long each waits for the server before it gives up.
    int attackers = 64;
    int patience = 2;
};

int connectFrom(const char* source, int port, int timeoutSeconds)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return -1;
    const timeval patience { timeoutSeconds, 0 };
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
    sockaddr_in from {};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &from.sin_addr);
    ::bind(socket, reinterpret_cast<const sockaddr*>(&from), sizeof from);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

SSL_CTX* clientContext(const std::string& groups)
{
    SSL_CTX* context = ::SSL_CTX_new(::TLS_client_method());
    ::SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    ::SSL_CTX_set1_groups_list(context, groups.c_str());
    return context;
}

// A TLS connection; nullptr when the handshake fails.
SSL* secure(SSL_CTX* context, int socket)
{
    SSL* tls = ::SSL_new(context);
    ::SSL_set_fd(tls, socket);
    if (::SSL_connect(tls) != 1) {
        ::SSL_free(tls);
        return nullptr;
    }
    return tls;
}

std::string base64Url(const unsigned char* bytes, std::size_t size)
{
    std::string text(4 * ((size + 2) / 3) + 1, '\0');
    text.resize(static_cast<std::size_t>(
        ::EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes, static_cast<int>(size))));
    std::ranges::replace(text, '+', '-');
    std::ranges::replace(text, '/', '_');
    std::erase(text, '=');
    return text;
}

// A device key's public half as the sign-in start carries it.
std::string publicKeyText()
{
    EVP_PKEY* key = ::EVP_EC_gen("P-256");
    unsigned char point[65];
    std::size_t size = 0;
    ::EVP_PKEY_get_octet_string_param(key, "encoded-pub-key", point, sizeof point, &size);
    ::EVP_PKEY_free(key);
    return base64Url(point, size);
}

std::string probeRequest(const Options& options, const std::string& key)
{
    if (!options.probe.empty())
        return "GET " + options.probe + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    unsigned char random[24];
    ::RAND_bytes(random, sizeof random);
    const std::string body = R"({"device_public_key":")" + key + R"(","platform":"linux","state":")"
        + base64Url(random, sizeof random) + "\"}";
    return "POST /v1/auth/apple/web/start HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
           "Content-Type: application/json\r\nContent-Length: "
        + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The milliseconds until the answer's first bytes, or -1 when none came within 10 s.
double probeOnce(SSL_CTX* context, int port, const std::string& request)
{
    const auto started = Clock::now();
    const int socket = connectFrom("127.0.0.1", port, 10);
    if (socket < 0)
        return -1;
    double elapsed = -1;
    if (SSL* tls = secure(context, socket)) {
        char reply[16] {};
        if (::SSL_write(tls, request.data(), static_cast<int>(request.size())) > 0
            && ::SSL_read(tls, reply, sizeof reply - 1) > 0
            && std::string_view(reply).starts_with("HTTP/1.1 ") && Clock::now() - started < 10s)
            elapsed = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        ::SSL_free(tls);
    }
    ::close(socket);
    return elapsed;
}

// The first bytes a client offering `groups` sends: its ClientHello, key share included.
std::string recordedHello(const std::string& groups)
{
    SSL_CTX* context = clientContext(groups);
    ::SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION);
    SSL* tls = ::SSL_new(context);
    BIO* in = ::BIO_new(::BIO_s_mem());
    BIO* out = ::BIO_new(::BIO_s_mem());
    ::SSL_set_bio(tls, in, out);
    ::SSL_connect(tls);
    char* bytes = nullptr;
    const long size = ::BIO_get_mem_data(out, &bytes);
    std::string hello(bytes, static_cast<std::size_t>(size));
    ::SSL_free(tls);
    ::SSL_CTX_free(context);
    return hello;
}

double serverCpuSeconds(long pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 0; i < 13 && fields >> field; ++i)
        if (i >= 11)
            ticks += std::stod(field);
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::string loadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string one;
    file >> one;
    return one;
}

// One of the attacker's threads: `rate` connections a second from 127.0.0.2 until `end`.
void attack(const Options& options, double rate, Clock::time_point end, const std::string& hello,
    std::atomic<int>& made)
{
    SSL_CTX* context = clientContext(options.groups);
    const std::string request = "GET /v1/nothing HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    std::deque<std::pair<Clock::time_point, std::pair<int, SSL*>>> held;
    auto next = Clock::now();
    while (Clock::now() < end) {
        std::this_thread::sleep_until(next);
        next += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
        while (!held.empty() && Clock::now() - held.front().first > 30s) {
            ::SSL_free(held.front().second.second);
            ::close(held.front().second.first);
            held.pop_front();
        }
        const int socket = connectFrom("127.0.0.2", options.port, options.patience);
        if (socket < 0)
            continue;
        if (options.mode == "hellos") {
            [[maybe_unused]] const auto sent = ::send(socket, hello.data(), hello.size(), MSG_NOSIGNAL);
            ++made;
            ::close(socket);
            continue;
        }
        SSL* tls = secure(context, socket);
        if (tls && ::SSL_write(tls, request.data(), static_cast<int>(request.size())) > 0)
            ++made;
        held.emplace_back(Clock::now(), std::pair { socket, tls });
    }
    for (auto& [since, connection] : held) {
        ::SSL_free(connection.second);
        ::close(connection.first);
    }
    ::SSL_CTX_free(context);
}

int flood(const Options& options)
{
    const auto end = Clock::now() + std::chrono::seconds(options.seconds);
    const std::string hello = options.mode == "hellos" ? recordedHello(options.groups) : std::string();
    std::atomic<int> made { 0 };
    std::vector<std::thread> threads;
    for (int i = 0; i < options.attackers; ++i)
        threads.emplace_back(attack, std::cref(options), options.rate / options.attackers, end,
            std::cref(hello), std::ref(made));
    SSL_CTX* context = clientContext("X25519:P-256");
    const std::string key = publicKeyText();
    std::mutex lock;
    std::vector<double> answered;
    int sent = 0;
    std::vector<std::thread> probes;
    for (auto next = Clock::now() + 1s; next < end; next += 1s) {
        std::this_thread::sleep_until(next);
        ++sent;
        probes.emplace_back([&, request = probeRequest(options, key)] {
            const double elapsed = probeOnce(context, options.port, request);
            const std::lock_guard guard(lock);
            if (elapsed >= 0)
                answered.push_back(elapsed);
        });
    }
    const std::string load = loadAverage();
    for (auto& thread : threads)
        thread.join();
    for (auto& thread : probes)
        thread.join();
    std::ranges::sort(answered);
    const auto at = [&](double share) {
        return answered.empty() ? 0.0
                                : answered[static_cast<std::size_t>(share * double(answered.size() - 1))];
    };
    std::printf("%s %s: %d connections in %d s (%.0f/s); probes answered %zu of %d, median %.0f ms, "
                "p90 %.0f ms; load 1 min %s\n",
        options.mode.c_str(), options.groups.c_str(), made.load(), options.seconds,
        made.load() / double(options.seconds), answered.size(), sent, at(0.5), at(0.9), load.c_str());
    ::SSL_CTX_free(context);
    return 0;
}

int handshakeCost(const Options& options)
{
    SSL_CTX* context = clientContext(options.groups);
    const double before = serverCpuSeconds(options.pid);
    const auto started = Clock::now();
    int secured = 0;
    for (int i = 0; i < options.count; ++i) {
        const int socket = connectFrom("127.0.0.1", options.port, 10);
        if (SSL* tls = socket >= 0 ? secure(context, socket) : nullptr) {
            ++secured;
            ::SSL_free(tls);
        }
        ::close(socket);
    }
    const double used = serverCpuSeconds(options.pid) - before;
    std::printf("%s: %d handshakes, %d secured, server CPU %.3f ms each, wall %.2f s; load 1 min %s\n",
        options.groups.c_str(), options.count, secured, 1000 * used / options.count,
        std::chrono::duration<double>(Clock::now() - started).count(), loadAverage().c_str());
    ::SSL_CTX_free(context);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // A write to a connection the server closed fails instead of ending the program.
    std::signal(SIGPIPE, SIG_IGN);
    Options options;
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PORT left-open|hellos|handshake-cost [options]\n", argv[0]);
        return 2;
    }
    options.port = std::atoi(argv[1]);
    options.mode = argv[2];
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--rate")
            options.rate = std::atof(value);
        else if (name == "--seconds")
            options.seconds = std::atoi(value);
        else if (name == "--groups")
            options.groups = value;
        else if (name == "--probe")
            options.probe = value;
        else if (name == "--pid")
            options.pid = std::atol(value);
        else if (name == "--count")
            options.count = std::atoi(value);
        else if (name == "--attackers")
            options.attackers = std::max(1, std::atoi(value));
        else if (name == "--patience")
            options.patience = std::max(1, std::atoi(value));
    }
    if (options.mode == "handshake-cost")
        return handshakeCost(options);
    return flood(options);
}
