#include "CCapiProxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {
int Listen(unsigned& port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 16) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(sa.sin_port);
    return fd;
}

int Connect(unsigned port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool SendAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// One client connection and, when forwarding, its upstream.
struct Pair {
    int client = -1;
    int upstream = -1;          // -1 while swallowing
    std::string fromUpstream;   // bytes not yet cut into whole frames
};
}

CCapiProxy::CCapiProxy()
{
    m_listen = Listen(m_nPort);
    if (::pipe2(m_wake, O_CLOEXEC) != 0)
        m_wake[0] = m_wake[1] = -1;
    m_thread = std::thread(&CCapiProxy::Run, this);
}

CCapiProxy::~CCapiProxy()
{
    if (m_wake[1] >= 0) {
        char b = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wake[1], &b, 1);
    }
    if (m_thread.joinable())
        m_thread.join();
    for (int fd : {m_listen, m_wake[0], m_wake[1]})
        if (fd >= 0)
            ::close(fd);
}

void CCapiProxy::Run()
{
    std::vector<Pair> pairs;
    auto closePair = [](Pair& p) {
        if (p.client >= 0)
            ::close(p.client);
        if (p.upstream >= 0)
            ::close(p.upstream);
        p.client = p.upstream = -1;
    };
    for (;;) {
        if (m_bCut.exchange(false)) {
            for (Pair& p : pairs)
                closePair(p);
            pairs.clear();
        }
        std::vector<pollfd> fds{{m_wake[0], POLLIN, 0}, {m_listen, POLLIN, 0}};
        for (const Pair& p : pairs) {
            fds.push_back({p.client, POLLIN, 0});
            fds.push_back({p.upstream, static_cast<short>(p.upstream >= 0 ? POLLIN : 0), 0});
        }
        if (::poll(fds.data(), fds.size(), 100) < 0)
            continue;
        if (fds[0].revents)
            break;
        if (fds[1].revents & POLLIN) {
            Pair p;
            p.client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (p.client >= 0) {
                int one = 1;
                ::setsockopt(p.client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                if (m_nMode == BLACKHOLE) {
                    ++m_nSwallowed;
                    pairs.push_back(p);
                } else if ((p.upstream = Connect(m_nUpstream)) >= 0) {
                    pairs.push_back(p);
                } else {
                    ::close(p.client);
                }
            }
        }
        char buf[65536];
        for (size_t i = 0; i < pairs.size(); ++i) {
            Pair& p = pairs[i];
            const pollfd& c = fds[2 + 2 * i];
            const pollfd& u = fds[3 + 2 * i];
            bool dead = false;
            if (c.revents & (POLLIN | POLLHUP | POLLERR)) {
                ssize_t n = ::recv(p.client, buf, sizeof buf, 0);
                if (n <= 0)
                    dead = true;
                else if (p.upstream >= 0)
                    dead = !SendAll(p.upstream, std::string(buf, static_cast<size_t>(n)));
            }
            if (!dead && p.upstream >= 0 && (u.revents & (POLLIN | POLLHUP | POLLERR))) {
                ssize_t n = ::recv(p.upstream, buf, sizeof buf, 0);
                if (n <= 0) {
                    dead = true;
                } else {
                    p.fromUpstream.append(buf, static_cast<size_t>(n));
                    // Whole frames only: a 2-byte big-endian length that counts itself.
                    while (p.fromUpstream.size() >= 2) {
                        const size_t len = (static_cast<uint8_t>(p.fromUpstream[0]) << 8) | static_cast<uint8_t>(p.fromUpstream[1]);
                        if (len < 2) {
                            dead = true;
                            break;
                        }
                        if (p.fromUpstream.size() < len)
                            break;
                        std::string frame = p.fromUpstream.substr(0, len);
                        p.fromUpstream.erase(0, len);
                        const uint16_t drop = m_nDrop;
                        if (drop && len >= 2 + 8
                            && (static_cast<uint8_t>(frame[6]) | (static_cast<uint8_t>(frame[7]) << 8)) == drop) {
                            ++m_nDropped;
                            continue;
                        }
                        if (!SendAll(p.client, frame)) {
                            dead = true;
                            break;
                        }
                    }
                }
            }
            if (dead)
                closePair(p);
        }
        std::erase_if(pairs, [](const Pair& p) { return p.client < 0; });
    }
    for (Pair& p : pairs)
        closePair(p);
}
