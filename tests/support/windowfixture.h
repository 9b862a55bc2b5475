#pragma once

#include "mainwindow.h"
#include "networkchannel.h"
#include "panelends.h"
#include "serialchannel.h"
#include "trafficview.h"

#include <QComboBox>
#include <QLineEdit>
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

// The main window in a throw-away home and working directory, with its dialogs answered, a
// server on 127.0.0.1 for the network channels to reach and a pty to play the serial device.
// The window goes first, before anything it may still use. Its controls are worked as a user
// works them.
class WindowFixture : public PanelEnds {
public:
    enum class Start { Now, Later };

    // Later: the test prepares the home, the working directory or the settings file, then
    // calls start().
    // The clock dates the window's logs: the real one when empty.
    explicit WindowFixture(Start start = Start::Now, ChannelLog::Clock clock = {});
    ~WindowFixture() override;
    MainWindow &start();
    MainWindow &window() { return *m_window; }
    // Shown at a size that fits every panel, as on a desk; false when it never came up.
    bool show();

    // What a field that the settings keep shows: a combo box's index, a spin box's value, a
    // line edit's text.
    QVariant value(const QString &name) const;
    // "name: shown != expected" for each field that does not show its value; empty when all do.
    QString differences(const QVariantMap &expected) const;
    // What a first run shows in those fields, the port list aside.
    static QVariantMap firstRunValues();

    // The shared address and port fields, read by the next Connect.
    void setTarget(const QString &port, const QString &address = QStringLiteral("127.0.0.1"));
    // Lists the path (the pty's when empty) after the found ports and selects it.
    void selectSerialPort(const QString &path = {});

    void setHexMode(int channel, bool hex) override;
    void send(int channel, const QString &command) override;
    void startPeriodicSend(int channel, const QString &command, int periodMs) override;
    bool connectTo(int channel, quint16 port) override;
    bool openSerial() override;

    // What the command line would ask of the window; set before start().
    RunOptions options;

private:
    ChannelLog::Clock m_clock;
    std::optional<MainWindow> m_window;
};
