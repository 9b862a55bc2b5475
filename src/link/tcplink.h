#pragma once

#include "link.h"

#include <QAbstractSocket>

class QTcpSocket;

// A TCP client connection ("tcpSocketN") to one host and port.
class TcpLink : public Link {
    Q_OBJECT

public:
    explicit TcpLink(const QString &objectName, QObject *parent = nullptr);
    ~TcpLink() override;

    QTcpSocket *socket() const { return m_socket; }
    // Where the next open() connects.
    void setPeer(const QString &host, quint16 port);
    QString peer() const;
    // How much one read() gives at most, so that a flood becomes many small arrivals.
    void setReadChunk(qint64 bytes);
    // The error that ended the last attempt or link.
    QAbstractSocket::SocketError error() const;

    void open() override;
    bool isOpen() const override;
    void close() override;
    void settle() override;
    QByteArray read() override;
    bool write(const QByteArray &bytes, QString *problem) override;
    qint64 bytesToWrite() const override;

private:
    void reportError(QAbstractSocket::SocketError error);

    QTcpSocket *m_socket;
    QString m_host;
    quint16 m_port = 0;
    bool m_connecting = false;
    bool m_closing = false;
};
