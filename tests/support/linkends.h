#pragma once

#include "channel.h"
#include "networkchannel.h"
#include "pty.h"
#include "serialchannel.h"
#include "testenvironment.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <array>

// Channels are numbered as the window shows them: the serial channel, then network 1 to 3.
constexpr int serial = 0;

// What every fixture of the four channels shares, with or without a window: a throw-away home
// and working directory, a pty to play the serial device and a server on 127.0.0.1 for the
// network channels to reach; and what a test reads off the channels themselves.
class LinkEnds {
public:
    LinkEnds();
    virtual ~LinkEnds();
    LinkEnds(const LinkEnds &) = delete;
    LinkEnds &operator=(const LinkEnds &) = delete;

    // Any object of the window, or of the channels (their timers), by its object name; a missing
    // one ends the test program.
    template<class T> T *widget(const QString &name) const
    {
        T *child = m_root->findChild<T *>(name);
        if (!child)
            qFatal("No %s named %s", T::staticMetaObject.className(), qPrintable(name));
        return child;
    }

    Channel &channel(int channel) const { return *m_channels[channel]; }
    SerialChannel &serialChannel() const { return static_cast<SerialChannel &>(channel(serial)); }
    NetworkChannel &networkChannel(int channel) const
    {
        return static_cast<NetworkChannel &>(this->channel(channel));
    }

    QTimer *sendTimer(int channel) const { return m_channels[channel]->sendTimer(); }
    QSerialPort *serialPort() const { return serialChannel().port(); }
    QTimer *pollTimer() const { return serialChannel().quietTimer(); }
    QTcpSocket *socket(int channel) const { return networkChannel(channel).socket(); }

    QString logPath(int channel) const
    {
        return env.logPath(TestEnvironment::logSuffixes[channel]);
    }
    QByteArray log(int channel) const { return fileContents(logPath(channel)); }

    // Sets the channel's mode as its buttons do.
    virtual void setHexMode(int channel, bool hex) = 0;
    // Sends the command as the Send button does.
    virtual void send(int channel, const QString &command) = 0;
    virtual void startPeriodicSend(int channel, const QString &command, int periodMs) = 0;
    // Connects network channel n to a port on 127.0.0.1; true when the channel holds the link.
    virtual bool connectTo(int channel, quint16 port) = 0;
    // Opens the serial port on the pty; true when it is open.
    virtual bool openSerial() = 0;

    // Connects network channel n to the fixture's server and returns the server's end, or null.
    QTcpSocket *connectNetwork(int channel);
    // Sets the channel's mode and opens it: the serial port on the pty, a network channel to
    // the fixture's server; true when the channel holds the link and the pty or server its end.
    bool open(int channel, bool hex = false);
    // The server's end of network channel n's last link, or null.
    QTcpSocket *peer(int channel) const { return m_peers[channel]; }
    // The server's end of the next connection it accepts, or null after two seconds.
    QTcpSocket *nextPeer();
    // What the device or the peer sends to the channel; false when it could not.
    bool deliver(int channel, const QByteArray &bytes);
    // All that the channel has sent to the device or to its peer so far.
    QByteArray written(int channel);

    // Lets the serial channel take exactly these bytes from the line without judging it quiet,
    // so that what is collected ends up in one block; resumePolling() goes back to normal and
    // lets the block end.
    bool collect(const QByteArray &bytes);
    void resumePolling() const;

    // A port on 127.0.0.1 on which nothing listens.
    static quint16 unusedPort();

    TestEnvironment env;
    QTcpServer server;
    Pty pty;

protected:
    // Set by the fixture once its channels exist: their window, the channels serial first.
    QObject *m_root = nullptr;
    std::array<Channel *, 4> m_channels {};

private:
    QPointer<QTcpSocket> m_peers[4];
    QByteArray m_written[4];
};
