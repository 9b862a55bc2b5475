#pragma once

#include <QByteArray>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// A TCP peer on 127.0.0.1 that lives on threads of its own and uses plain POSIX sockets, so it
// never waits for the GUI thread whose stalls are being measured. In Flood mode every accepted
// connection sends one payload as fast as the socket takes it once start() is called; in Sink
// mode every connection has whatever arrives read and dropped.
class FloodServer {
public:
    enum class Mode { Flood, Sink };

    explicit FloodServer(Mode mode);
    ~FloodServer();
    FloodServer(const FloodServer &) = delete;
    FloodServer &operator=(const FloodServer &) = delete;

    bool isListening() const { return m_listener >= 0; }
    quint16 port() const { return m_port; }
    int accepted() const { return m_accepted.load(); }

    // Every connection accepted so far, and any accepted later, sends this payload once.
    void start(const QByteArray &payload);
    // Every connection that started sending has sent the whole payload or given up.
    bool allSent() const;
    qint64 bytesSent() const { return m_bytesSent.load(); }
    qint64 bytesDropped() const { return m_bytesDropped.load(); }
    // Stops sending and reading, closes every socket and joins every thread.
    void stop();

private:
    void acceptLoop();
    void flood(int fd);
    void sink(int fd);

    Mode m_mode;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stopping { false };
    std::atomic<int> m_accepted { 0 };
    std::atomic<int> m_sending { 0 };
    std::atomic<qint64> m_bytesSent { 0 };
    std::atomic<qint64> m_bytesDropped { 0 };

    std::mutex m_mutex;
    std::condition_variable m_started;
    bool m_go = false;
    QByteArray m_payload;
    std::vector<int> m_connections;
    std::vector<std::thread> m_workers;
    std::thread m_acceptor;
};

// The device side of a pseudo-terminal, on a thread of its own: either writes a payload into
// the master as fast as the line takes it, or reads and drops whatever the program writes.
class PtyPump {
public:
    enum class Mode { Write, Drain };

    PtyPump(int masterFd, Mode mode);
    ~PtyPump();
    PtyPump(const PtyPump &) = delete;
    PtyPump &operator=(const PtyPump &) = delete;

    // Write mode: begins writing the payload.
    void start(const QByteArray &payload);
    bool done() const { return m_done.load(); }
    qint64 bytesMoved() const { return m_moved.load(); }
    void stop();

private:
    void run();

    int m_fd;
    Mode m_mode;
    QByteArray m_payload;
    std::atomic<bool> m_stopping { false };
    std::atomic<bool> m_done { false };
    std::atomic<qint64> m_moved { 0 };
    std::thread m_thread;
};
