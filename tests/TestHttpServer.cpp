#include "TestHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

TTestHttpServer::TTestHttpServer(Handler handler)
    : m_handler(std::move(handler))
{
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(m_listen, 16);
    socklen_t len = sizeof addr;
    getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    if (pipe2(m_wake, O_CLOEXEC) != 0)
        m_wake[0] = m_wake[1] = -1;
    m_thread = std::thread([this] { Serve(); });
}

TTestHttpServer::~TTestHttpServer()
{
    if (m_wake[1] >= 0)
        static_cast<void>(write(m_wake[1], "x", 1));
    m_thread.join();
    for (const int fd : m_held)
        close(fd);
    close(m_listen);
    close(m_wake[0]);
    close(m_wake[1]);
}

std::vector<std::string> TTestHttpServer::Requests()
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void TTestHttpServer::Serve()
{
    while (true) {
        pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            return;
        const int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            Answer(fd);
    }
}

void TTestHttpServer::Answer(int fd)
{
    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        head.append(buf, static_cast<std::size_t>(n));
    }
    const std::string line = head.substr(0, head.find("\r\n"));
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(line);
        m_heads.push_back(head.substr(0, head.find("\r\n\r\n")));
    }
    if (Mode == Behaviour::NeverAnswer) {
        std::lock_guard lock(m_mutex);
        m_held.push_back(fd);
        return;
    }
    const std::string body = m_handler(line);
    const int status = StatusFor ? StatusFor(line) : Status.load();
    std::string reply = "HTTP/1.0 " + std::to_string(status) + " Reply\r\nContent-Type: text/plain; charset=UTF-8\r\n";
    if (HeadersFor)
        reply += HeadersFor(line);
    if (Mode == Behaviour::CloseMidReply) {
        reply += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body.substr(0, body.size() / 2);
    } else {
        reply += "Connection: close\r\n\r\n" + body;
    }
    for (std::size_t at = 0; at < reply.size();) {
        const ssize_t n = send(fd, reply.data() + at, reply.size() - at, MSG_NOSIGNAL);
        if (n <= 0)
            break;  // the client stopped reading
        at += static_cast<std::size_t>(n);
    }
    close(fd);
}

std::vector<std::string> TTestHttpServer::Heads()
{
    std::lock_guard lock(m_mutex);
    return m_heads;
}
