#pragma once

// MainWindow is the whole program: one window holding four independent channels, the serial
// line (serialPort, polled every 10 ms into serialRecvBuffer) and three TCP clients (tcpSocket1
// to tcpSocket3). Every channel's traffic reaches its view only through appendSerialTraffic or
// appendNetworkTraffic, which also write the very same text to that channel's log file under
// ~/Documents/TeskManager, so a log always holds what was shown. The slots below are grouped by
// subsystem in src/serial, src/network and src/view; construction, settings and shutdown live in
// src/app. The three network channels share one implementation that works on a NetworkChannel,
// a bundle of pointers to that channel's members and widgets.

#include "networkchannel.h"
#include "serialsettings.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QColor>
#include <QMainWindow>
#include <QSerialPort>
#include <QSet>
#include <QString>

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
    void initSettings();

    // src/serial
    void fillSerialParameterLists();
    void fillSerialPortList();
    void updateSerialSettings();
    void handleSerialLoss();

    // src/network
    NetworkChannel networkChannel(int number);
    void connectNetwork(const NetworkChannel &channel, bool b);
    void sendNetwork(const NetworkChannel &channel);
    void readNetwork(const NetworkChannel &channel);
    void clearNetwork(const NetworkChannel &channel);
    void setNetworkAsciiHexMode(const NetworkChannel &channel, int id);
    void networkTimerStartClicked(const NetworkChannel &channel, bool b);
    void stopNetworkSendOnLinkLoss(const NetworkChannel &channel);

    // src/view
    void appendSerialTraffic(QString text, const QColor &colour, bool lineBreak);
    void appendNetworkTraffic(QTextEdit *view, QString text, const QColor &colour, bool lineBreak);
    void createChannelLogs();
    void writeChannelLog(QFile *file, const QString &text);
    void reportLogError(QFile *file);
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
    // Log files whose failure the user has already been told about; told once per file.
    QSet<const QFile *> reportedLogFiles;
};
