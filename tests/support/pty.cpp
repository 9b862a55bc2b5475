#include "pty.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

void makeRaw(int fd)
{
    termios settings {};
    if (tcgetattr(fd, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(fd, TCSANOW, &settings);
    }
}

} // namespace

Pty::Pty()
{
    // openpty() would need the system's <pty.h>, which this directory's pty.h shadows; these
    // are the POSIX calls it is made of.
    char name[PATH_MAX] = {};
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return;
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0
        || ptsname_r(m_master, name, sizeof name) != 0
        || (m_slave = ::open(name, O_RDWR | O_NOCTTY)) < 0) {
        closeMaster();
        return;
    }
    makeRaw(m_master);
    makeRaw(m_slave);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slavePath = QString::fromLocal8Bit(name);
}

Pty::~Pty()
{
    closeMaster();
    if (m_slave >= 0)
        ::close(m_slave);
}

bool Pty::write(const QByteArray &bytes) const
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    // The line is full until the program reads; a program that stopped reading for seconds
    // fails the write rather than hanging the test. Sleeping a fixed while instead of waiting for
    // room would hold a fast reader to a few hundred kilobytes a second.
    int idleRounds = 0;
    while (left > 0) {
        const ssize_t written = ::write(m_master, data, size_t(left));
        if (written < 0 && errno != EINTR && errno != EAGAIN)
            return false;
        if (written > 0) {
            data += written;
            left -= written;
            idleRounds = 0;
        } else if (++idleRounds > 50) {
            return false;
        } else {
            pollfd room { m_master, POLLOUT, 0 };
            poll(&room, 1, 100);
        }
    }
    return true;
}

QByteArray Pty::readAvailable() const
{
    QByteArray result;
    char chunk[4096];
    ssize_t count;
    while ((count = ::read(m_master, chunk, sizeof chunk)) > 0)
        result.append(chunk, int(count));
    return result;
}

void Pty::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}
