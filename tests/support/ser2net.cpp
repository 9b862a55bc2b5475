#include "ser2net.h"

#include "testenvironment.h"

#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

#include <tuple>

// termios2 carries the speed as a number, so a rate without a Bnnn constant reads back too;
// glibc's <termios.h> has no such call and cannot be included beside it.
#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Two ports at once, so that they differ.
std::pair<quint16, quint16> unusedPorts()
{
    QTcpServer first;
    QTcpServer second;
    first.listen(QHostAddress::LocalHost);
    second.listen(QHostAddress::LocalHost);
    return { first.serverPort(), second.serverPort() };
}

} // namespace

Ser2net::Ser2net()
{
    std::tie(m_rfc2217Port, m_rawPort) = unusedPorts();
    m_process.setStandardOutputFile(QProcess::nullDevice());
}

Ser2net::~Ser2net()
{
    kill();
}

bool Ser2net::isInstalled()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ser2net")).isEmpty();
}

QString Ser2net::configPath() const
{
    return m_dir.filePath(QStringLiteral("ser2net.yaml"));
}

QByteArray Ser2net::config() const
{
    QByteArray options;
    if (m_bufferSize > 0) {
        options = QByteArray("  options:\n    dev-to-net-bufsize: %1\n    net-to-dev-bufsize: %1\n")
                      .replace("%1", QByteArray::number(m_bufferSize));
    }
    const QByteArray connector
        = "  connector: serialdev," + m_device.slavePath().toLocal8Bit() + ",9600n81,local\n";
    return "connection: &rfc2217\n  accepter: telnet(rfc2217),tcp,127.0.0.1,"
        + QByteArray::number(m_rfc2217Port) + "\n" + connector + options
        + "connection: &raw\n  accepter: tcp,127.0.0.1," + QByteArray::number(m_rawPort) + "\n"
        + connector + options;
}

QString Ser2net::start()
{
    if (isRunning())
        return QStringLiteral("ser2net runs already");
    if (!m_dir.isValid() || !m_device.isValid())
        return QStringLiteral("no temporary folder or no pty for ser2net");
    if (!writeFile(configPath(), config()))
        return QStringLiteral("cannot write ") + configPath();
    // -n: in the foreground, as a child of the test; -u: no UUCP lock files to clean up.
    m_process.setProgram(QStandardPaths::findExecutable(QStringLiteral("ser2net")));
    m_process.setArguments(
        { QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"), configPath() });
    m_process.start();
    if (!m_process.waitForStarted(5000))
        return QStringLiteral("ser2net did not start: ") + m_process.errorString();
    bool ended = false;
    const bool listening = QTest::qWaitFor(
        [&] {
            ended = !isRunning();
            return ended || (loopbackListening(m_rfc2217Port) && loopbackListening(m_rawPort));
        },
        10000);
    if (ended || !listening) {
        const QString why = ended ? QStringLiteral("ser2net ended at once: ")
                                  : QStringLiteral("ser2net does not listen: ");
        return why + QString::fromLocal8Bit(errorOutput());
    }
    return QString();
}

void Ser2net::stop()
{
    if (!isRunning())
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        kill();
}

void Ser2net::kill()
{
    if (!isRunning())
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

QByteArray Ser2net::errorOutput()
{
    m_errors += m_process.readAllStandardError();
    return m_errors;
}

int Ser2net::lineSpeed() const
{
    return ttyLineSpeed(m_device.slavePath());
}

int ttyLineSpeed(const QString &path)
{
    const int fd
        = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    termios2 settings {};
    const bool read = ::ioctl(fd, TCGETS2, &settings) == 0;
    ::close(fd);
    return read ? int(settings.c_ospeed) : -1;
}

bool loopbackListening(quint16 port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    // "sl local_address rem_address st ...": 127.0.0.1 is 0100007F there, state 0A is LISTEN.
    const QByteArray local
        = "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields.at(1) == local && fields.at(3) == "0A")
            return true;
    }
    return false;
}
