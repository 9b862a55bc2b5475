#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QIODevice;

// What a channel talks through: a local serial port, a TCP socket, a port server's serial
// port. A channel drives every kind the same way; what a kind needs beforehand (the line
// settings of a serial line, the peer of a TCP client) it is given by its own setters.
class Link : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Starts opening. opened() or failed() tells how it ends, possibly before open() returns.
    virtual void open() = 0;
    virtual bool isOpen() const = 0;
    // Ends the link, or the attempt, at once and without a word; settle() first, so that nothing
    // still unread is lost.
    virtual void close() = 0;
    // Before a close that must lose nothing: what the system already holds for the link is
    // taken in (readyRead), and what was written is given a little time to leave.
    virtual void settle() = 0;
    // What has arrived and was not read yet.
    virtual QByteArray read() = 0;
    // Writes all of the bytes, or says why not.
    virtual bool write(const QByteArray &bytes, QString *problem) = 0;
    virtual qint64 bytesToWrite() const = 0;

signals:
    void opened();
    void failed(const QString &reason);
    void readyRead();
    // The link ended without being asked to: the device went away, the peer closed or failed.
    void lost(const QString &reason);
};

// What settle() does for a link that is a QIODevice with a descriptor: a poll first, since Qt
// reports a wait that times out as the device's error; then up to 500 ms for what was written.
void settleDevice(QIODevice *device, qintptr descriptor);
