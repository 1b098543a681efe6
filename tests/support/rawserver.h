#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>

#include <QString>

/// A server on 127.0.0.1 that answers each connection with whatever its handler writes to the
/// socket, byte for byte: for replies no well-behaved HTTP library would send (impossible
/// sizes, bodies that never end). Each connection has a thread of its own; the handler should
/// return once `running()` turns false.
class RawServer
{
public:
    using Handler = std::function<void(int socket, const std::string& request, RawServer& self)>;

    explicit RawServer(Handler handler)
        : m_handler(std::move(handler))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listener, 64);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }
    ~RawServer()
    {
        {
            std::lock_guard lock(m_stopMutex);
            m_running = false;
        }
        m_stopped.notify_all();
        ::shutdown(m_listener, SHUT_RDWR);
        m_acceptor.join();
        for (std::thread& connection : m_connections)
            connection.join();
        ::close(m_listener);
    }
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    QString url(const char* path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(QLatin1String(path));
    }
    quint16 port() const { return m_port; }
    bool running() const { return m_running; }
    /// Waits `limit`, or less when the server is stopping; false once it is.
    bool pause(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(m_stopMutex);
        return !m_stopped.wait_for(lock, limit, [this] { return !m_running.load(); });
    }
    int connections() const { return m_accepted; }

    /// A handler that sends `head` and then a body that never ends, until the peer goes.
    static Handler endless(std::string head, char filler = 'x')
    {
        return [head = std::move(head), filler](int socket, const std::string&, RawServer& self) {
            send(socket, head);
            const std::string block(64 * 1024, filler);
            while (self.running() && send(socket, block)) {
            }
        };
    }

    /// Writes all of `bytes`; false once the peer has gone.
    static bool send(int socket, const std::string& bytes)
    {
        return ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }

private:
    void acceptLoop()
    {
        while (m_running) {
            const int socket = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (socket < 0)
                return;
            ++m_accepted;
            m_connections.emplace_back([this, socket] {
                m_handler(socket, readRequest(socket), *this);
                ::close(socket);
            });
        }
    }

    /// The request head, or what arrived of it within a second.
    static std::string readRequest(int socket)
    {
        std::string request;
        pollfd wait{socket, POLLIN, 0};
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos && ::poll(&wait, 1, 1000) > 0) {
            const ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            request.append(buffer, static_cast<std::size_t>(n));
        }
        return request;
    }

    Handler m_handler;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_running{true};
    std::mutex m_stopMutex;
    std::condition_variable m_stopped;
    std::atomic<int> m_accepted{0};
    std::thread m_acceptor;
    std::list<std::thread> m_connections;
};
