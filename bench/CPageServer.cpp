#include "CPageServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {
constexpr int POLL_SLICE_MS = 200;          // how often the thread looks at the stop flag
constexpr int REQUEST_TIMEOUT_MS = 20000;   // longest wait for a request's bytes
constexpr size_t MAX_REQUEST = 1 << 20;     // a larger request is answered with 413

// Writes all of `bytes`; false when the peer went away or stalled too long.
bool WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd{fd, POLLOUT, 0};
            if (::poll(&pfd, 1, REQUEST_TIMEOUT_MS) > 0)
                continue;
        }
        return false;
    }
    return true;
}
}

CPageServer::CPageServer() = default;

CPageServer::~CPageServer()
{
    m_bStop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

void CPageServer::Add(const std::string& path, const std::string& contentType, std::string body)
{
    m_resources[path] = Resource{contentType, std::move(body)};
}

size_t CPageServer::ResourceBytes() const
{
    size_t total = 0;
    for (const auto& [path, resource] : m_resources)
        total += resource.body.size();
    return total;
}

bool CPageServer::Start()
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(m_listenFd, 8) != 0
        || ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return false;
    m_nPort = ntohs(addr.sin_port);
    m_thread = std::thread(&CPageServer::Run, this);
    return true;
}

std::vector<CPageServer::Served> CPageServer::Log() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_log;
}

void CPageServer::Run()
{
    while (!m_bStop) {
        pollfd pfd{m_listenFd, POLLIN, 0};
        if (::poll(&pfd, 1, POLL_SLICE_MS) <= 0)
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Serve(fd);
        ::close(fd);
    }
}

void CPageServer::Serve(int fd)
{
    std::string request;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(REQUEST_TIMEOUT_MS);
    size_t headerEnd = std::string::npos;
    char buffer[4096];
    while ((headerEnd = request.find("\r\n\r\n")) == std::string::npos && request.size() < MAX_REQUEST) {
        if (m_bStop || std::chrono::steady_clock::now() >= deadline)
            return;
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, POLL_SLICE_MS) <= 0)
            continue;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        request.append(buffer, static_cast<size_t>(n));
    }
    std::string path;
    const size_t sp1 = request.find(' ');
    const size_t sp2 = sp1 == std::string::npos ? std::string::npos : request.find(' ', sp1 + 1);
    if (sp2 != std::string::npos)
        path = request.substr(sp1 + 1, sp2 - sp1 - 1);
    std::string status = "200 OK";
    std::string type = "text/plain";
    std::string body;
    if (headerEnd == std::string::npos) {
        status = "413 Payload Too Large";
    } else if (auto it = m_resources.find(path); it != m_resources.end()) {
        type = it->second.contentType;
        body = it->second.body;
    } else {
        status = "404 Not Found";
        body = "not here\n";
    }
    const std::string answer = "HTTP/1.1 " + status + "\r\nContent-Type: " + type + "\r\nContent-Length: "
                               + std::to_string(body.size()) + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n"
                               + body;
    WriteAll(fd, answer);
    std::lock_guard<std::mutex> guard(m_lock);
    m_log.push_back(Served{path, request.size(), answer.size(), std::chrono::system_clock::now()});
}
