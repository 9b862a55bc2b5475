#pragma once

// MainWindow is the whole program: one window holding four independent channels, each an object
// that owns its link, mode, counters, periodic send, traffic view and log: a SerialChannel
// (src/serial) and three NetworkChannels (src/network), both built on Channel (src/app). The
// window keeps them in one table; its slots, wired to the form's controls and the links at
// construction, forward to them in one line each. Every channel's traffic reaches its view
// through a TrafficView (src/view), which writes the text to the channel's ChannelLog (src/log),
// a file under ~/Documents/TeskManager, at once, and shows it at the next display frame, so a
// log always holds what was shown (the serial view only drops terminal noise the log keeps).
// Construction, settings and shutdown are in src/app.

#include "channellog.h"
#include "options.h"
#include "settingsfile.h"
#include "trafficview.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QColor>
#include <QHash>
#include <QMainWindow>
#include <QSerialPort>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>

class AboutDialog;
class Channel;
class MessageBoxes;
class NetworkChannel;
class QCloseEvent;
class QEvent;
class QPushButton;
class QTimer;
class ScriptRunner;
class SerialChannel;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // The options of the command line win over the settings file's for this run; the clock
    // dates the run's logs (tests pass a fixed one).
    explicit MainWindow(QWidget *parent = nullptr, const RunOptions &options = {},
                        ChannelLog::Clock clock = {});
    ~MainWindow() override;

    // Closes the window as File > Exit does, keeping the logs unless the run said to discard
    // them: nobody is there to answer (a signal, the end of an unattended run), so a box that
    // is up or comes up on the way is dismissed.
    void closeUnattended();
    // 0 unless a script ran: then its verdict (0 passed, 1 a check failed, 3 an error, or its
    // logs could not be written).
    int exitStatus() const;
    // The script of --script, or null.
    ScriptRunner *scriptRunner() const { return script; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private slots:
    void loadSettings();
    void saveSettings();

    void serialOpenCloseButtonClicked(bool b);
    void openSerialPort();
    void closeSerialPort();
    void readData();
    void readSerialPort();
    void writeData(QByteArray data);
    void handleError(QSerialPort::SerialPortError error);
    void setSerialAsciiHexMode(int id);
    void clearSerialPort();
    void sendSerialPort();
    void setColor();
    void serialTimerStartClicked(bool b);

    void clearNetwork1();
    void clearNetwork2();
    void clearNetwork3();
    void setNetwork1AsciiHexMode(int id);
    void setNetwork2AsciiHexMode(int id);
    void setNetwork3AsciiHexMode(int id);
    void connectNetwork1(bool b);
    void connectNetwork2(bool b);
    void connectNetwork3(bool b);
    void displayError(QAbstractSocket::SocketError socketError);
    void sendNetwork1();
    void sendNetwork2();
    void sendNetwork3();
    void readNetwork1();
    void readNetwork2();
    void readNetwork3();
    void network1TimerStartClicked(bool b);
    void network2TimerStartClicked(bool b);
    void network3TimerStartClicked(bool b);

private:
    // src/app
    void makeChannels();
    void makeConnections();
    void initSettings();
    void warnSettingsNotSaved(const QString &reason);
    void createChannelLogs();
    // The run's logs, each with the end of its file name: the four channels', then the script's.
    QList<QPair<QString, ChannelLog *>> runLogs() const;
    // Opens the links and starts the periodic sends the command line asked for.
    void startAsTold();
    // The script of --script, its log named with the four, started once every link the command
    // line opens has opened or failed.
    void makeScript();
    void startScriptWhenLinksSettle();
    // Answers a modal dialog as Escape would.
    static void dismiss(QWidget *modal);

    // src/serial
    void fillSerialParameterLists();
    void fillSerialPortList();
    // Lists device paths after the found ports (once each), and selects the first one.
    void addSerialPorts(const QStringList &paths);

    // src/view
    // Shows the colour in use: `colour` when the user picked it (valid), else the default.
    void showColor(QPushButton *button, const QColor &colour);
    void showColors();

    Ui::MainWindow *ui;
    AboutDialog *aboutDialog;
    std::unique_ptr<MessageBoxes> boxes;
    // Invalid until the user picks one: the defaults follow the palette (colourInUse).
    QColor serialInputColor;
    QColor serialOutputColor;
    QColor networkInputColor;
    QColor networkOutputColor;
    QString settingsFilePath;
    RunOptions commandLineOptions;
    RunSettings runSettings;
    // The answer to the question at exit when it is given ahead.
    std::optional<bool> keepLogsAtExit;
    QTimer *unattendedClose = nullptr;
    // The close has been accepted: the links and logs are closed.
    bool closed = false;
    // The run's logs could not be created: whatever a script finds is not on record.
    bool logsLost = false;
    ChannelLog::Clock clock;
    LayoutBudget layoutBudget;

    SerialChannel *serialChannel = nullptr;
    std::array<NetworkChannel *, 3> networkChannels {};
    // All four, serial first, for whatever every channel has.
    std::array<Channel *, 4> channels {};
    ScriptRunner *script = nullptr;
};
