#include "tcplink.h"

#include <QCoreApplication>
#include <QTcpSocket>

#include <utility>

namespace {
QString windowText(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

const char *const hostNotFound
    = QT_TRANSLATE_NOOP("MainWindow",
                        "The host was not found. Please check the host name and "
                        "port settings.");
const char *const refused = QT_TRANSLATE_NOOP(
    "MainWindow",
    "The connection was refused by the peer. Make sure the server is running, and "
    "check that the host name and port settings are correct.");
} // namespace

TcpLink::TcpLink(const QString &objectName, QObject *parent)
    : Link(parent)
    , m_socket(new QTcpSocket(this))
{
    m_socket->setObjectName(objectName);
    connect(m_socket, &QTcpSocket::readyRead, this, &Link::readyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &TcpLink::reportError);
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_connecting = false;
        emit opened();
    });
    // A socket closed by anyone but this link (the peer, or code behind the channel's back) has
    // ended the link; the error that came with it, if any, has told why already.
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        if (!m_closing)
            emit lost({});
    });
}

TcpLink::~TcpLink()
{
    // Whoever listens may be gone by now: the socket closes without a word.
    m_socket->blockSignals(true);
}

void TcpLink::setPeer(const QString &host, quint16 port)
{
    m_host = host;
    m_port = port;
}

QString TcpLink::peer() const
{
    return QStringLiteral("%1:%2").arg(m_host).arg(m_port);
}

void TcpLink::setReadChunk(qint64 bytes)
{
    m_socket->setReadBufferSize(bytes);
}

QAbstractSocket::SocketError TcpLink::error() const
{
    return m_socket->error();
}

void TcpLink::open()
{
    m_closing = true;
    m_socket->abort();
    m_closing = false;
    m_connecting = true;
    m_socket->connectToHost(m_host, m_port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

bool TcpLink::isOpen() const
{
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

void TcpLink::close()
{
    // An attempt is aborted, where closing would finish it first.
    const bool attempt = std::exchange(m_connecting, false);
    m_closing = true;
    attempt ? m_socket->abort() : m_socket->close();
    m_closing = false;
}

void TcpLink::settle()
{
    if (!isOpen())
        return;
    m_socket->flush();
    settleDevice(m_socket, m_socket->socketDescriptor());
}

QByteArray TcpLink::read()
{
    return m_socket->readAll();
}

bool TcpLink::write(const QByteArray &bytes, QString *problem)
{
    if (m_socket->write(bytes) < 0) {
        *problem = m_socket->errorString();
        return false;
    }
    m_socket->flush();
    return true;
}

qint64 TcpLink::bytesToWrite() const
{
    return m_socket->bytesToWrite();
}

void TcpLink::reportError(QAbstractSocket::SocketError error)
{
    QString text;
    switch (error) {
    case QAbstractSocket::RemoteHostClosedError:
        break;
    case QAbstractSocket::HostNotFoundError:
        text = windowText(hostNotFound);
        break;
    case QAbstractSocket::ConnectionRefusedError:
        text = windowText(refused);
        break;
    default:
        text = windowText("The following error occurred: %1.").arg(m_socket->errorString());
        break;
    }
    // The system's words do not say which peer they are about; three channels may have one each.
    if (!text.isEmpty())
        text = QStringLiteral("%1: %2").arg(peer(), text);
    if (std::exchange(m_connecting, false)) {
        // A socket that has given up on its attempt is left as it is.
        if (m_socket->state() != QAbstractSocket::UnconnectedState)
            m_socket->abort();
        emit failed(text.isEmpty() ? peer() + QStringLiteral(": ") + windowText(hostNotFound)
                                   : text);
    } else if (error != QAbstractSocket::SocketTimeoutError || !isOpen()) {
        // A wait of ours that timed out is reported as an error too; the link is still there.
        emit lost(text);
    }
}
