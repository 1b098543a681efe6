#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

/// A real HTTP (or HTTPS) server on 127.0.0.1 and a free port, for the duration of a test.
/// Routes are added on `server()` before start().
class TestServer
{
public:
    TestServer()
        : m_server(std::make_unique<httplib::Server>())
    {
    }
    TestServer(const char* certificate, const char* key)
        : m_server(std::make_unique<httplib::SSLServer>(certificate, key))
        , m_scheme("https")
    {
    }
    ~TestServer() { stop(); }
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    httplib::Server& server() { return *m_server; }

    /// Starts listening; a server that listens already goes on as it is.
    void start()
    {
        if (m_thread.joinable())
            return;
        // As web servers answer on a kept connection: a response's last small piece is sent at
        // once, not held back until the client acknowledges the piece before it.
        m_server->set_tcp_nodelay(true);
        m_port = m_server->bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server->listen_after_bind(); });
        while (!m_server->is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    void stop()
    {
        releaseStalls();
        if (m_thread.joinable()) {
            m_server->stop();
            m_thread.join();
        }
    }

    int port() const { return m_port; }
    /// "http://127.0.0.1:<port><path>" (https for a secure server).
    std::string url(const std::string& path) const
    {
        return m_scheme + "://127.0.0.1:" + std::to_string(m_port) + path;
    }

    /// Whether stalls still hold (handlers that dribble data test this between writes).
    bool stalling() const { return !m_released; }
    /// Holds a handler until the stalls are released (the server ends them on stop) or, at the
    /// longest, for `limit`.
    void holdWhileStalling(std::chrono::milliseconds limit = std::chrono::hours(1))
    {
        std::unique_lock lock(m_stallMutex);
        m_stallEnded.wait_for(lock, limit, [this] { return m_released.load(); });
    }
    void releaseStalls()
    {
        {
            std::lock_guard lock(m_stallMutex);
            m_released = true;
        }
        m_stallEnded.notify_all();
    }

private:
    std::unique_ptr<httplib::Server> m_server;
    std::string m_scheme = "http";
    std::thread m_thread;
    int m_port = 0;
    std::atomic<bool> m_released{false};
    std::mutex m_stallMutex;
    std::condition_variable m_stallEnded;
};
