#include "floodserver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Every blocking wait is a poll with this bound, so a stop is noticed within it.
constexpr int pollMs = 50;
constexpr size_t chunk = 256 * 1024;

bool waitFor(int fd, short events)
{
    pollfd p { fd, events, 0 };
    return ::poll(&p, 1, pollMs) > 0;
}

} // namespace

FloodServer::FloodServer(Mode mode)
    : m_mode(mode)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listener < 0)
        return;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(m_listener, 8) != 0
        || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(m_listener);
        m_listener = -1;
        return;
    }
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread(&FloodServer::acceptLoop, this);
}

FloodServer::~FloodServer()
{
    stop();
}

void FloodServer::start(const QByteArray &payload)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_payload = payload;
    m_go = true;
    m_started.notify_all();
}

bool FloodServer::allSent() const
{
    return m_sending.load() == 0;
}

void FloodServer::stop()
{
    m_stopping = true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_started.notify_all();
    }
    if (m_acceptor.joinable())
        m_acceptor.join();
    for (std::thread &worker : m_workers)
        if (worker.joinable())
            worker.join();
    m_workers.clear();
    for (int fd : m_connections)
        ::close(fd);
    m_connections.clear();
    if (m_listener >= 0)
        ::close(m_listener);
    m_listener = -1;
}

void FloodServer::acceptLoop()
{
    while (!m_stopping) {
        if (!waitFor(m_listener, POLLIN))
            continue;
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            continue;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        // Counted before the worker runs, so that allSent() cannot be true for a flood that has
        // not begun.
        if (m_mode == Mode::Flood)
            ++m_sending;
        m_connections.push_back(fd);
        m_workers.emplace_back(m_mode == Mode::Flood ? &FloodServer::flood : &FloodServer::sink,
                               this, fd);
        ++m_accepted;
    }
}

void FloodServer::flood(int fd)
{
    QByteArray payload;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_started.wait(lock, [this] { return m_go || m_stopping.load(); });
        payload = m_payload;
    }
    const char *data = payload.constData();
    size_t left = size_t(payload.size());
    while (left > 0 && !m_stopping) {
        if (!waitFor(fd, POLLOUT))
            continue;
        const ssize_t sent = ::send(fd, data, std::min(left, chunk), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            data += sent;
            left -= size_t(sent);
            m_bytesSent += sent;
        } else if (sent < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
    }
    --m_sending;
}

void FloodServer::sink(int fd)
{
    static thread_local char buffer[64 * 1024];
    while (!m_stopping) {
        if (!waitFor(fd, POLLIN))
            continue;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0)
            m_bytesDropped += got;
        else if (got == 0 || (errno != EAGAIN && errno != EINTR))
            break;
    }
}

PtyPump::PtyPump(int masterFd, Mode mode)
    : m_fd(masterFd)
    , m_mode(mode)
{
    if (m_mode == Mode::Drain)
        m_thread = std::thread(&PtyPump::run, this);
}

PtyPump::~PtyPump()
{
    stop();
}

void PtyPump::start(const QByteArray &payload)
{
    if (m_mode != Mode::Write || m_thread.joinable())
        return;
    m_payload = payload;
    m_thread = std::thread(&PtyPump::run, this);
}

void PtyPump::stop()
{
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
}

void PtyPump::run()
{
    if (m_mode == Mode::Write) {
        const char *data = m_payload.constData();
        size_t left = size_t(m_payload.size());
        while (left > 0 && !m_stopping) {
            if (!waitFor(m_fd, POLLOUT))
                continue;
            const ssize_t written = ::write(m_fd, data, std::min(left, chunk));
            if (written > 0) {
                data += written;
                left -= size_t(written);
                m_moved += written;
            } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
                break;
            }
        }
    } else {
        char buffer[16 * 1024];
        while (!m_stopping) {
            if (!waitFor(m_fd, POLLIN))
                continue;
            const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
            if (got > 0)
                m_moved += got;
            else if (got == 0 || (errno != EAGAIN && errno != EINTR))
                break;
        }
    }
    m_done = true;
}
