#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal standing in for a serial device: the program opens the slave side by its
// path like any serial port, and the test plays the device on the master side. Both sides are
// raw, so bytes pass unchanged in either direction.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    // Writes all of bytes to the master side (what the device sends); false on failure.
    bool write(const QByteArray &bytes) const;
    // Whatever the program has written to the line so far, without waiting.
    QByteArray readAvailable() const;
    // The device goes away: the program's side sees a hang-up.
    void closeMaster();

private:
    int m_master = -1;
    // Held open so that the line stays up between the program's opens and closes.
    int m_slave = -1;
    QString m_slavePath;
};
