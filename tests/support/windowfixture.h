#pragma once

#include "mainwindow.h"
#include "modaldialoghelper.h"
#include "pty.h"
#include "testenvironment.h"
#include "trafficview.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPort>
#include <QSpinBox>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextEdit>
#include <QTimer>
#include <QVariantMap>

#include <optional>

// Channels are numbered as the window shows them: the serial channel, then network 1 to 3.
constexpr int serial = 0;

// The main window in a throw-away home and working directory, with its dialogs answered, a
// server on 127.0.0.1 for the network channels to reach and a pty to play the serial device.
// The window goes first, before anything it may still use.
class WindowFixture {
public:
    enum class Start { Now, Later };

    // Later: the test prepares the home, the working directory or the settings file, then
    // calls start().
    // The clock dates the window's logs: the real one when empty.
    explicit WindowFixture(Start start = Start::Now, ChannelLog::Clock clock = {});
    MainWindow &start();
    MainWindow &window() { return *m_window; }
    // Shown at a size that fits every panel, as on a desk; false when it never came up.
    bool show();

    // Any child of the window by its object name; a missing one ends the test program.
    template<class T> T *widget(const QString &name) const
    {
        T *child = m_window->findChild<T *>(name);
        if (!child)
            qFatal("The window holds no %s named %s", T::staticMetaObject.className(),
                   qPrintable(name));
        return child;
    }

    // The view as it is once the frame that is due has shown what already arrived.
    QTextEdit *view(int channel) const
    {
        QTextEdit *view = part<QTextEdit>("TE_%1", channel, true);
        if (auto *traffic = m_window->findChild<TrafficView *>(view->objectName() + "Traffic"))
            traffic->flush();
        return view;
    }
    QString shown(int channel) const { return view(channel)->toPlainText(); }
    QLineEdit *commandLine(int channel) const { return part<QLineEdit>("LE_%1Cmd", channel, true); }
    QPushButton *sendButton(int channel) const
    {
        return part<QPushButton>("PB_Send%1", channel, true);
    }
    QPushButton *clearButton(int channel) const
    {
        return part<QPushButton>("PB_Clear%1", channel, true);
    }
    // Open or Connect.
    QPushButton *linkButton(int channel) const
    {
        return part<QPushButton>(channel == serial ? "PB_Open%1" : "PB_Connect%1", channel, true);
    }
    // Start or Stop.
    QPushButton *timerButton(int channel) const
    {
        return part<QPushButton>("PB_%1TimerStart", channel);
    }
    QSpinBox *periodBox(int channel) const { return part<QSpinBox>("SB_%1TimerSecond", channel); }
    QTimer *sendTimer(int channel) const;
    // The periodic send as shown and as it runs: the button's caption, then "checked" and
    // "running" where they hold. "Start" when it is off, "Stop checked running" while it runs.
    QString periodicSend(int channel) const;
    // The SENT and RECV counters as numbers; -1 when the field holds none.
    int sent(int channel) const { return number(part<QLineEdit>("LE_%1SentCount", channel)); }
    int received(int channel) const { return number(part<QLineEdit>("LE_%1RecvCount", channel)); }
    QString logPath(int channel) const
    {
        return env.logPath(TestEnvironment::logSuffixes[channel]);
    }
    QByteArray log(int channel) const { return fileContents(logPath(channel)); }
    QString status() const
    {
        return widget<QStatusBar>(QStringLiteral("statusBar"))->currentMessage();
    }
    QSerialPort *serialPort() const { return widget<QSerialPort>(QStringLiteral("serialPort")); }
    QTimer *pollTimer() const { return widget<QTimer>(QStringLiteral("serialPollTimer")); }
    QTcpSocket *socket(int channel) const
    {
        return widget<QTcpSocket>(QStringLiteral("tcpSocket%1").arg(channel));
    }

    // What a field that the settings keep shows: a combo box's index, a spin box's value, a
    // line edit's text.
    QVariant value(const QString &name) const;
    // "name: shown != expected" for each field that does not show its value; empty when all do.
    QString differences(const QVariantMap &expected) const;
    // What a first run shows in those fields, the port list aside.
    static QVariantMap firstRunValues();

    // The shared address and port fields, read by the next Connect.
    void setTarget(const QString &port, const QString &address = QStringLiteral("127.0.0.1"));
    // Connects network channel n to a port on 127.0.0.1; true when the window holds the link.
    bool connectTo(int channel, quint16 port);
    // Connects it to the fixture's server and returns the server's end, or null.
    QTcpSocket *connectNetwork(int channel);
    // The server's end of network channel n's last link, or null.
    QTcpSocket *peer(int channel) const { return m_peers[channel]; }
    // The server's end of the next connection it accepts, or null after two seconds.
    QTcpSocket *nextPeer();
    // Lists the path (the pty's when empty) after the found ports and selects it.
    void selectSerialPort(const QString &path = {});
    // Sets the channel's mode and opens it: the serial port on the pty, a network channel to
    // the fixture's server; true when the window holds the link and the pty or server its end.
    bool open(int channel, bool hex = false);
    // What the device or the peer sends to the channel; false when it could not.
    bool deliver(int channel, const QByteArray &bytes);
    // All that the channel has sent to the device or to its peer so far.
    QByteArray written(int channel);
    void setHexMode(int channel, bool hex) const
    {
        part<QRadioButton>(hex ? "RB_%1Hex" : "RB_%1Ascii", channel)->click();
    }
    void send(int channel, const QString &command) const;
    void startPeriodicSend(int channel, const QString &command, int periodMs) const;

    // Lets the serial channel take exactly these bytes from the line without judging it quiet,
    // so that what is collected ends up in one block; resumePolling() goes back to normal and
    // lets the block end.
    bool collect(const QByteArray &bytes);
    void resumePolling() const;

    // A port on 127.0.0.1 on which nothing listens.
    static quint16 unusedPort();

    // What the command line would ask of the window; set before start().
    RunOptions options;
    TestEnvironment env;
    ModalDialogHelper dialogs;
    QTcpServer server;
    Pty pty;

private:
    // The window names a channel's parts after it: "SerialPort" or "Network2" for the view, the
    // command line and its buttons, "Serial" or "Network2" for the others.
    template<class T> T *part(const char *pattern, int channel, bool port = false) const
    {
        const QString name = channel != serial ? QStringLiteral("Network%1").arg(channel)
            : port                             ? QStringLiteral("SerialPort")
                                               : QStringLiteral("Serial");
        return widget<T>(QString::fromLatin1(pattern).arg(name));
    }
    static int number(const QLineEdit *field);

    ChannelLog::Clock m_clock;
    QPointer<QTcpSocket> m_peers[4];
    QByteArray m_written[4];
    std::optional<MainWindow> m_window;
};
