#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QTcpSocket>
#include <QTimer>
#include <QtGlobal>

#include <atomic>
#include <cerrno>
#include <functional>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// A TCP peer on 127.0.0.1 with plain POSIX sockets on threads of its own, so that it never
// waits for the GUI thread it is testing. Every accepted connection runs the handler on its own
// thread; the connection is closed when the handler returns.
class TcpPeer {
public:
    using Handler = std::function<void(TcpPeer &peer, int fd)>;

    explicit TcpPeer(Handler handler, int receiveBuffer = 0)
        : m_handler(std::move(handler))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receiveBuffer > 0) // inherited by the accepted sockets
            ::setsockopt(m_listener, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::listen(m_listener, 8) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }

    ~TcpPeer()
    {
        m_stopping = true;
        if (m_acceptor.joinable())
            m_acceptor.join();
        for (std::thread &worker : m_workers)
            worker.join();
        if (m_listener >= 0)
            ::close(m_listener);
    }

    quint16 port() const { return m_port; }
    bool stopping() const { return m_stopping; }
    int finished() const { return m_finished; }
    qint64 received() const { return m_received; }

    // Sends all of bytes in pieces of at most `piece`; false when stopped or refused first.
    bool sendAll(int fd, const QByteArray &bytes, int piece = 1 << 20, int pauseMs = 0)
    {
        qint64 done = 0;
        while (done < bytes.size()) {
            if (!waitFor(fd, POLLOUT))
                return false;
            const ssize_t n
                = ::send(fd, bytes.constData() + done,
                         size_t(qMin<qint64>(piece, bytes.size() - done)), MSG_NOSIGNAL);
            if (n < 0 && errno != EINTR && errno != EAGAIN)
                return false;
            if (n > 0)
                done += n;
            if (pauseMs > 0)
                ::usleep(useconds_t(pauseMs) * 1000);
        }
        return true;
    }

    // Reads and counts whatever arrives until the other side closes or the peer stops.
    void drain(int fd)
    {
        char chunk[65536];
        while (waitFor(fd, POLLIN)) {
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return;
            m_received += n;
        }
    }

    // Waits until the peer stops or the predicate holds.
    template<class Predicate> bool waitUntil(Predicate ready) const
    {
        while (!m_stopping) {
            if (ready())
                return true;
            ::usleep(5000);
        }
        return false;
    }

    // For handlers that end at once: a connection of the test's own, queued behind all that came
    // before it, with a plain socket that does not try again on a reset. The number accepted
    // once its handler has closed it, or -1.
    int acceptedWithSentinel() const
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(m_port);
        const timeval limit { 15, 0 };
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char byte;
        const bool closed
            = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
            && (::recv(fd, &byte, 1, 0) == 0 || errno == ECONNRESET);
        ::close(fd);
        return closed ? int(m_accepted) : -1;
    }

    // The next close sends a reset instead of a graceful end.
    static void resetOnClose(int fd)
    {
        const linger hard { 1, 0 };
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }

private:
    // Waits for the event for as long as it takes, but never past a stop.
    bool waitFor(int fd, short events) const
    {
        while (!m_stopping) {
            pollfd p { fd, events, 0 };
            const int ready = ::poll(&p, 1, 50);
            if (ready > 0)
                return true;
            if (ready < 0 && errno != EINTR)
                return false;
        }
        return false;
    }

    void acceptLoop()
    {
        while (waitFor(m_listener, POLLIN)) {
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            ++m_accepted;
            m_workers.emplace_back([this, fd] {
                m_handler(*this, fd);
                ::close(fd);
                ++m_finished;
            });
        }
    }

    Handler m_handler;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stopping { false };
    std::atomic<int> m_accepted { 0 };
    std::atomic<int> m_finished { 0 };
    std::atomic<qint64> m_received { 0 };
    std::thread m_acceptor;
    std::vector<std::thread> m_workers; // touched by the acceptor thread only until the join
};

// The kernel completes handshakes on its own, so a listener that merely delays accept() would
// still let a connect succeed at once. With a backlog of 0 the accept queue holds a single
// connection; once a filler connection occupies it, further SYNs are dropped until the
// listener accepts, which this one does only after 1.5 s: a connect that waits a second for
// its answer gets none.
class LateListener {
public:
    LateListener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&address), length) != 0
            || ::listen(m_fd, 0) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_filler.connectToHost(QHostAddress::LocalHost, m_port);
        m_filler.waitForConnected(1000);
        QTimer::singleShot(1500, &m_filler, [this] {
            for (int fd; (fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
                m_accepted << fd;
        });
    }
    ~LateListener()
    {
        for (int fd : qAsConst(m_accepted))
            ::close(fd);
        ::close(m_fd);
    }
    bool isReady() const { return m_filler.state() == QAbstractSocket::ConnectedState; }
    quint16 port() const { return m_port; }

private:
    int m_fd = -1;
    quint16 m_port = 0;
    QTcpSocket m_filler;
    QList<int> m_accepted;
};
