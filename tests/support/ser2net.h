#pragma once

#include "pty.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// Debian's ser2net as a remote serial port server, run by the test with a configuration of its
// own in a temporary folder: an RFC 2217 accepter and a raw TCP accepter on free 127.0.0.1 ports,
// both in front of one pty, which the test plays as the device. ser2net serves one client per
// device: a second one, on either port, is told "Port already in use" and closed.
class Ser2net {
public:
    Ser2net();
    ~Ser2net();
    Ser2net(const Ser2net &) = delete;
    Ser2net &operator=(const Ser2net &) = delete;

    static bool isInstalled();

    // ser2net's buffers between the device and the network. Its defaults hold a flood to a few
    // MB/s, which a bench would measure instead of the client; takes effect at the next start.
    void setBufferSize(int bytes) { m_bufferSize = bytes; }

    // Empty once both ports listen (found in the kernel's socket table, so that no probe
    // connection takes the device); otherwise why not. Starts again on the same ports after a
    // stop or a kill.
    QString start();
    // SIGTERM, then SIGKILL if it does not end; by its process id only.
    void stop();
    // Gone at once, as a crashed or powered-off server: SIGKILL.
    void kill();
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

    quint16 rfc2217Port() const { return m_rfc2217Port; }
    quint16 rawPort() const { return m_rawPort; }
    Pty &device() { return m_device; }
    QString configPath() const;
    // What ser2net wrote to its error output so far.
    QByteArray errorOutput();

    // The line speed the pty's slave is set to now, as ser2net set it for a client (e.g. by
    // SET-BAUDRATE), also one termios has no constant for; -1 when it cannot be read.
    int lineSpeed() const;

private:
    QByteArray config() const;

    QTemporaryDir m_dir;
    Pty m_device;
    QProcess m_process;
    quint16 m_rfc2217Port = 0;
    quint16 m_rawPort = 0;
    int m_bufferSize = 0;
    QByteArray m_errors;
};

// The speed a tty is set to, in bits per second; -1 when it cannot be read.
int ttyLineSpeed(const QString &path);
// Whether something listens on 127.0.0.1 at this TCP port, by the kernel's socket table.
bool loopbackListening(quint16 port);
