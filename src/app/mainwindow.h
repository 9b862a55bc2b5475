#pragma once

// MainWindow is the program's window: one view of a run (a Session: four channels, their logs
// and a script, src/run) with a panel per channel (src/view) that binds the channel to its
// controls. Its slots, wired to the form's controls and the channels at construction, forward
// to the panels and the channels in one line each. Construction, settings and shutdown are in
// src/app; the serial and network slots in src/serial and src/network.

#include "channellog.h"
#include "options.h"
#include "settings.h"
#include "trafficview.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QMainWindow>
#include <QSerialPort>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <optional>

class AboutDialog;
class ChannelPanel;
class ColourButtons;
class MessageBoxes;
class NetworkPanel;
class QCloseEvent;
class QEvent;
class QTimer;
class ScriptSuite;
class SerialPanel;
class Session;

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
    // 0 unless a script ran: then its verdict (0 passed, 1 a check failed, 3 an error).
    int exitStatus() const;
    // The run the window shows.
    Session &session() const { return *m_session; }

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
    void makePanels();
    void makeConnections();
    void initSettings();
    void warnSettingsNotSaved(const QString &reason);
    void createChannelLogs();
    // Opens the links and starts the periodic sends the command line asked for.
    void startAsTold();
    // The script of --script, its log among the run's, started once every link the command
    // line opens has opened or failed.
    void makeScript();
    // Answers a modal dialog as Escape would.
    static void dismiss(QWidget *modal);

    // src/serial
    void fillSerialParameterLists();
    void fillSerialPortList();
    // Lists device paths after the found ports (once each), and selects the first one.
    void addSerialPorts(const QStringList &paths);

    Ui::MainWindow *ui;
    AboutDialog *aboutDialog;
    QString settingsFilePath;
    RunOptions commandLineOptions;
    RunSettings runSettings;
    // The answer to the question at exit when it is given ahead.
    std::optional<bool> keepLogsAtExit;
    QTimer *unattendedClose = nullptr;
    // The close has been accepted: the links and logs are closed.
    bool closed = false;
    LayoutBudget layoutBudget;

    Session *m_session;
    std::unique_ptr<MessageBoxes> boxes;
    // The run's logs could not be created: whatever a script finds is not on record.
    bool logsLost = false;
    SerialPanel *serialPanel = nullptr;
    std::array<NetworkPanel *, 3> networkPanels {};
    // All four, serial first, for whatever every channel has.
    std::array<ChannelPanel *, 4> panels {};
    ColourButtons *colours = nullptr;
};
