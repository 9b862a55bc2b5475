#pragma once

#include "channelcounters.h"
#include "rendering.h"

#include <QAbstractSocket>
#include <QCoreApplication>
#include <QString>

class TrafficView;
class QColor;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QTcpSocket;
class QTimer;
class QWidget;

// How much one arrival reads at most, so that a flood becomes many small appends instead of a
// few huge ones that stall the window; every byte still arrives. Hex mode shows three characters
// per byte, so it reads less at a time to keep each append about as long as in ASCII.
constexpr qint64 asciiReadChunk = 64 * 1024;
constexpr qint64 hexReadChunk = 16 * 1024;

// The port typed into the port field: decimal digits, white space around them aside, naming a
// port from 1 to 65535; 0 for anything else, which names no port a channel can connect to.
quint16 networkPortFromText(const QString &text);

// One TCP client channel of the main window. The three channels behave alike, so each is one of
// these, made once by the main window; the window's per-channel slots forward to it. It holds
// references to that channel's members of the window and to its widgets, and owns nothing.
class NetworkChannel {
    Q_DECLARE_TR_FUNCTIONS(MainWindow)

public:
    // What the three channels share: the window their boxes belong to, its status bar, the one
    // address and port, and the two network colours.
    struct Shared {
        QWidget *window;
        QStatusBar *statusBar;
        QLineEdit *address;
        QLineEdit *port;
        const QColor &inputColour;
        const QColor &outputColour;
    };

    // One channel's members of the main window and its widgets.
    struct Parts {
        int number; // 1, 2 or 3
        QTcpSocket *socket;
        QTimer *sendTimer;
        bool &hexMode;
        ChannelCounters counters;
        TrafficView &traffic;
        QLineEdit *commandLine;
        QPushButton *connectButton;
        QPushButton *timerButton;
        QSpinBox *periodBox;
    };

    NetworkChannel(const Shared &shared, const Parts &parts);
    ~NetworkChannel();
    NetworkChannel(const NetworkChannel &) = delete;
    NetworkChannel &operator=(const NetworkChannel &) = delete;

    QString name() const { return QStringLiteral("Network%1").arg(m_number); }
    QTcpSocket *socket() const { return m_socket; }

    void showCounters() const { m_counters.show(); }
    void connectLink(bool connect);
    void reportError(QAbstractSocket::SocketError error);
    void send();
    void read();
    void clear();
    void setMode(int id);
    void setPeriodicSend(bool start);

private:
    void connectToPeer();
    void disconnectFromPeer();
    bool connecting() const;
    void onConnected();
    // A connect that ended without a link: one box, unless the user abandoned it.
    void failConnect(const QString &text);
    void showPeer(const QString &peer);
    // The link has ended without the user asking (the peer closed, a socket error).
    void endLink();
    void failSend(const QString &reason);
    void appendTraffic(QString text, const QColor &colour, bool lineBreak);
    void showIncompleteText();
    void stopPeriodicSend();

    QWidget *m_window;
    QStatusBar *m_statusBar;
    QLineEdit *m_address;
    QLineEdit *m_port;
    const QColor &m_inputColour;
    const QColor &m_outputColour;

    int m_number;
    QTcpSocket *m_socket;
    QTimer *m_sendTimer;
    bool &m_hexMode;
    ChannelCounters m_counters;
    TrafficView &m_traffic;
    QLineEdit *m_commandLine;
    QPushButton *m_connectButton;
    QPushButton *m_timerButton;
    QSpinBox *m_periodBox;

    ReceivedText m_receivedText;
    // Runs while a connect waits for its answer; named "networkNConnectTimer" so that a test can
    // shorten the wait.
    QTimer *m_connectTimer;
    QString m_peer; // host:port of the link being made or held
};
