#include "RcapiPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace {

bool ReadAll(int fd, uint8_t* buffer, size_t count)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t n = recv(fd, buffer + done, count - done, 0);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

uint16_t Word(const std::vector<uint8_t>& m, size_t offset)
{
    return offset + 2 <= m.size() ? static_cast<uint16_t>(m[offset] | (m[offset + 1] << 8)) : 0;
}

}  // namespace

RcapiPeer::RcapiPeer()
{
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(m_listen, 8);
    socklen_t size = sizeof address;
    getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &size);
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread(&RcapiPeer::AcceptLoop, this);
}

RcapiPeer::~RcapiPeer()
{
    m_stop = true;
    m_acceptor.join();
    close(m_listen);
    CloseConnections();
    std::vector<std::thread> readers;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        readers.swap(m_readers);
    }
    for (std::thread& reader : readers)
        reader.join();
}

void RcapiPeer::AcceptLoop()
{
    while (!m_stop) {
        pollfd p {m_listen, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        const int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard<std::mutex> guard(m_lock);
        m_fds.push_back(fd);
        m_readers.emplace_back(&RcapiPeer::ReadLoop, this, fd);
    }
}

void RcapiPeer::ReadLoop(int fd)
{
    for (;;) {
        uint8_t head[2];
        if (!ReadAll(fd, head, 2))
            break;
        const size_t length = static_cast<size_t>((head[0] << 8) | head[1]);
        if (length < 2)
            break;
        std::vector<uint8_t> payload(length - 2);
        if (!ReadAll(fd, payload.data(), payload.size()))
            break;
        std::unique_lock<std::mutex> guard(m_lock);
        if (payload.size() >= 6 && payload[4] == 0xF2 && payload[5] == 0xFF) {
            ++m_registrations;
            m_changed.notify_all();
            if (m_mode == SILENT)
                continue;
            m_registered = fd;
            m_registeredClosed = false;
            // The reply: the request's first eight bytes with F3, then the error word 0.
            std::vector<uint8_t> reply(payload.begin(), payload.begin() + 8);
            reply[4] = 0xF3;
            reply.push_back(0);
            reply.push_back(0);
            guard.unlock();
            SendOn(fd, reply);
            continue;
        }
        Frame frame;
        const size_t messageLength = payload.size() >= 2 ? Word(payload, 0) : 0;
        const size_t split = messageLength <= payload.size() ? messageLength : payload.size();
        frame.message.assign(payload.begin(), payload.begin() + static_cast<long>(split));
        frame.trailer.assign(payload.begin() + static_cast<long>(split), payload.end());
        const bool confirm = m_autoConfirm && Word(frame.message, 4) == 0x8086 && frame.message.size() >= 20;
        std::vector<uint8_t> conf;
        if (confirm) {
            conf.assign(16, 0);
            conf[0] = 16;
            conf[2] = frame.message[2];
            conf[3] = frame.message[3];
            conf[4] = 0x86;
            conf[5] = 0x81;
            conf[6] = frame.message[6];
            conf[7] = frame.message[7];
            std::memcpy(conf.data() + 8, frame.message.data() + 8, 4);
            conf[12] = frame.message[18];
            conf[13] = frame.message[19];
        }
        m_frames.push_back(std::move(frame));
        m_changed.notify_all();
        guard.unlock();
        if (confirm)
            SendOn(fd, conf);
    }
    std::lock_guard<std::mutex> guard(m_lock);
    if (fd == m_registered) {
        m_registeredClosed = true;
        m_registered = -1;
    }
    for (auto it = m_fds.begin(); it != m_fds.end(); ++it) {
        if (*it == fd) {
            m_fds.erase(it);
            break;
        }
    }
    close(fd);
    m_changed.notify_all();
}

bool RcapiPeer::SendOn(int fd, const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> frame(2 + payload.size());
    frame[0] = static_cast<uint8_t>(frame.size() >> 8);
    frame[1] = static_cast<uint8_t>(frame.size());
    std::memcpy(frame.data() + 2, payload.data(), payload.size());
    return send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size());
}

void RcapiPeer::Reset()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_frames.clear();
    m_mode = ANSWER;
    m_autoConfirm = false;
}

void RcapiPeer::SetMode(Mode mode)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_mode = mode;
}

void RcapiPeer::SetAutoConfirm(bool on)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_autoConfirm = on;
}

int RcapiPeer::Registrations() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_registrations;
}

std::vector<uint8_t> RcapiPeer::WaitForKey(uint16_t key, size_t from, size_t* index, int timeoutMs)
{
    std::unique_lock<std::mutex> guard(m_lock);
    size_t found = 0;
    const bool ok = m_changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
        for (size_t i = from; i < m_frames.size(); ++i) {
            if (Word(m_frames[i].message, 4) == key) {
                found = i;
                return true;
            }
        }
        return false;
    });
    if (!ok)
        return {};
    if (index)
        *index = found;
    return m_frames[found].message;
}

std::vector<uint8_t> RcapiPeer::TrailerOf(size_t index) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return index < m_frames.size() ? m_frames[index].trailer : std::vector<uint8_t>();
}

size_t RcapiPeer::Count() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_frames.size();
}

bool RcapiPeer::Send(const std::vector<uint8_t>& payload)
{
    // Under the lock, so that the connection's reader cannot close it meanwhile.
    std::lock_guard<std::mutex> guard(m_lock);
    return m_registered >= 0 && SendOn(m_registered, payload);
}

void RcapiPeer::CloseConnections()
{
    // Each reader closes its own descriptor once it sees the end.
    std::lock_guard<std::mutex> guard(m_lock);
    for (int fd : m_fds)
        shutdown(fd, SHUT_RDWR);
    m_registered = -1;
    m_changed.notify_all();
}

bool RcapiPeer::WaitClosed(int timeoutMs)
{
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return m_registeredClosed; });
}
