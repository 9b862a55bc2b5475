#pragma once

// MainWindow is the whole program: one window holding four independent channels, the serial
// line (serialPort, polled every 10 ms into serialRecvBuffer) and three TCP clients (tcpSocket1
// to tcpSocket3). The window owns every member, widget and slot that a channel has; what a
// channel does lives in the folder named after it. Each network channel is a NetworkChannel
// (src/network), made once in the constructor, to which that channel's slots forward; the
// serial channel's slots are in src/serial. Every channel's traffic reaches its view through a
// TrafficView (src/view), which writes the text to the channel's ChannelLog (src/log), a file
// under ~/Documents/TeskManager, at once, and shows it at the next display frame, so a log
// always holds what was shown (the serial view only drops terminal noise the log keeps).
// Construction, settings and shutdown are in src/app.

#include "channelcounters.h"
#include "channellog.h"
#include "networkchannel.h"
#include "rendering.h"
#include "serialsettings.h"
#include "trafficview.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QColor>
#include <QMainWindow>
#include <QSerialPort>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>

class AboutDialog;
class QCloseEvent;
class QFile;
class QTcpSocket;
class QTextEdit;
class QTimer;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Lists device paths (from the command line) after the found ports, and selects the first
    // one over whatever the settings chose.
    void addSerialPorts(const QStringList &paths);

protected:
    void closeEvent(QCloseEvent *event) override;

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
    void makeConnections();
    void makeChannels();
    void initSettings();
    void warnSettingsNotSaved(const QString &reason);
    void createChannelLogs();

    // src/serial
    void fillSerialParameterLists();
    void fillSerialPortList();
    void updateSerialSettings();
    void handleSerialLoss();
    void enableSerialSettings(bool enable);
    void showSerialBlock();
    void showIncompleteSerialText();
    void appendSerialTraffic(QString text, const QColor &colour, bool lineBreak);

    // src/network
    NetworkChannel &networkChannel(int number) { return *networkChannels[number - 1]; }

    // src/view
    void showColor(QPushButton *button, const QColor &colour);

    Ui::MainWindow *ui;
    QSerialPort *serialPort;
    AboutDialog *aboutDialog;
    SerialSettings serialSettings;
    bool serialHexMode;
    bool network1HexMode;
    bool network2HexMode;
    bool network3HexMode;
    QTcpSocket *tcpSocket1;
    QTcpSocket *tcpSocket2;
    QTcpSocket *tcpSocket3;
    QColor serialInputColor;
    QColor serialOutputColor;
    QColor networkInputColor;
    QColor networkOutputColor;
    QString settingsFilePath;
    QTimer *serialSendTimer;
    QTimer *serialPollTimer;
    QTimer *network1SendTimer;
    QTimer *network2SendTimer;
    QTimer *network3SendTimer;
    QByteArray serialRecvBuffer;
    int serialSentCount;
    int serialRecvCount;
    int network1SentCount;
    int network1RecvCount;
    int network2SentCount;
    int network2RecvCount;
    int network3SentCount;
    int network3RecvCount;
    QFile *serialLogFile;
    QFile *network1LogFile;
    QFile *network2LogFile;
    QFile *network3LogFile;

    // Set while a lost serial device is being handled, so that the error storm a vanished
    // device produces ends in one report and one close.
    bool serialLossHandled = false;

    // The channels' logs (serial, network 1 to 3; the four LogFile members point at their
    // files), their views, counters and the network channels themselves.
    std::array<ChannelLog, 4> channelLogs;
    std::unique_ptr<TrafficView> serialTraffic;
    std::unique_ptr<ChannelCounters> serialCounters;
    ReceivedText serialReceivedText;
    std::array<std::unique_ptr<TrafficView>, 3> networkTraffic;
    std::array<std::unique_ptr<NetworkChannel>, 3> networkChannels;
};
