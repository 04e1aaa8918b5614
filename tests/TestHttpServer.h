#pragma once
// A small HTTP server on 127.0.0.1 for the lookup's tests, playing a CDDB server (or a proxy):
// it keeps the first line of every request and answers each with what the test's function
// gives, or misbehaves as told: never answers, or closes half-way through its reply.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TTestHttpServer {
public:
    enum class Behaviour { Answer, NeverAnswer, CloseMidReply };
    // The reply's body for a request line ("GET /~cddb/cddb.cgi?cmd=... HTTP/1.1").
    using Handler = std::function<std::string(const std::string& requestLine)>;

    explicit TTestHttpServer(Handler handler);
    ~TTestHttpServer();

    int Port() const { return m_port; }
    std::vector<std::string> Requests();

    std::atomic<Behaviour> Mode{Behaviour::Answer};
    std::atomic<int> Status{200};
    // When set (before the first request), the status of each request line instead of Status.
    std::function<int(const std::string& requestLine)> StatusFor;
    // When set (before the first request), more header lines for a reply ("Location: ...\r\n").
    std::function<std::string(const std::string& requestLine)> HeadersFor;
    // Every request's head (its request line and header lines), in order.
    std::vector<std::string> Heads();

private:
    void Serve();
    void Answer(int fd);

    Handler m_handler;
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    int m_port = 0;
    std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::vector<std::string> m_heads;
    std::vector<int> m_held;   // connections left unanswered, closed at the end
    std::thread m_thread;
};
