#include "mainwindow.h"

#include "aboutdialog.h"
#include "console.h"
#include "ui_mainwindow.h"

#include <QButtonGroup>
#include <QFile>
#include <QTcpSocket>
#include <QTimer>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , serialPort(nullptr)
    , aboutDialog(nullptr)
    , serialHexMode(false)
    , network1HexMode(false)
    , network2HexMode(false)
    , network3HexMode(false)
    , tcpSocket1(nullptr)
    , tcpSocket2(nullptr)
    , tcpSocket3(nullptr)
    , serialInputColor(Qt::black)
    , serialOutputColor(Qt::red)
    , networkInputColor(Qt::black)
    , networkOutputColor(Qt::red)
    , serialSendTimer(nullptr)
    , serialPollTimer(nullptr)
    , network1SendTimer(nullptr)
    , network2SendTimer(nullptr)
    , network3SendTimer(nullptr)
    , serialSentCount(0)
    , serialRecvCount(0)
    , network1SentCount(0)
    , network1RecvCount(0)
    , network2SentCount(0)
    , network2RecvCount(0)
    , network3SentCount(0)
    , network3RecvCount(0)
    , serialLogFile(nullptr)
    , network1LogFile(nullptr)
    , network2LogFile(nullptr)
    , network3LogFile(nullptr)
{
    ui->setupUi(this);
    setWindowTitle(tr("TeskManager"));

    serialPort = new QSerialPort(this);
    tcpSocket1 = new QTcpSocket(this);
    tcpSocket2 = new QTcpSocket(this);
    tcpSocket3 = new QTcpSocket(this);
    serialSendTimer = new QTimer(this);
    serialPollTimer = new QTimer(this);
    network1SendTimer = new QTimer(this);
    network2SendTimer = new QTimer(this);
    network3SendTimer = new QTimer(this);
    aboutDialog = new AboutDialog(this);
    for (QTcpSocket *socket : { tcpSocket1, tcpSocket2, tcpSocket3 })
        socket->setReadBufferSize(asciiReadChunk);

    makeConnections();
    fillSerialParameterLists();
    fillSerialPortList();
    initSettings();
    createChannelLogs();
}

MainWindow::~MainWindow()
{
    delete ui;
    ui = nullptr;
    // The form is gone, but the link objects and timers die later with the Qt children and
    // may still signal while they do (a socket reports its disconnect, a port its close).
    // None of that may reach a slot that would touch the deleted form.
    for (QObject *sender : std::initializer_list<QObject *> {
             serialPort, tcpSocket1, tcpSocket2, tcpSocket3, serialSendTimer, serialPollTimer,
             network1SendTimer, network2SendTimer, network3SendTimer })
        sender->disconnect(this);
    delete serialLogFile;
    delete network1LogFile;
    delete network2LogFile;
    delete network3LogFile;
}

void MainWindow::makeConnections()
{
    connect(serialPort, &QSerialPort::errorOccurred, this, &MainWindow::handleError);
    connect(serialSendTimer, &QTimer::timeout, this, &MainWindow::sendSerialPort);
    connect(serialPollTimer, &QTimer::timeout, this, &MainWindow::readSerialPort);
    serialPollTimer->start(10);
    connect(tcpSocket1, &QTcpSocket::readyRead, this, &MainWindow::readNetwork1);
    connect(tcpSocket2, &QTcpSocket::readyRead, this, &MainWindow::readNetwork2);
    connect(tcpSocket3, &QTcpSocket::readyRead, this, &MainWindow::readNetwork3);
    connect(tcpSocket1, &QTcpSocket::errorOccurred, this, &MainWindow::displayError);
    connect(tcpSocket2, &QTcpSocket::errorOccurred, this, &MainWindow::displayError);
    connect(tcpSocket3, &QTcpSocket::errorOccurred, this, &MainWindow::displayError);

    auto *serialMode = new QButtonGroup(this);
    serialMode->addButton(ui->RB_SerialAscii, 0);
    serialMode->addButton(ui->RB_SerialHex, 1);
    connect(serialMode, &QButtonGroup::idClicked, this, &MainWindow::setSerialAsciiHexMode);

    connect(ui->PB_ClearSerialPort, &QPushButton::clicked, this, &MainWindow::clearSerialPort);
    connect(ui->PB_OpenSerialPort, &QPushButton::clicked, this,
            &MainWindow::serialOpenCloseButtonClicked);
    connect(ui->PB_SendSerialPort, &QPushButton::clicked, this, &MainWindow::sendSerialPort);
    connect(ui->LE_SerialPortCmd, &QLineEdit::returnPressed, ui->PB_SendSerialPort,
            &QPushButton::click);
    connect(ui->PB_SerialInputColor, &QPushButton::clicked, this, &MainWindow::setColor);
    connect(ui->PB_SerialOutputColor, &QPushButton::clicked, this, &MainWindow::setColor);
    connect(ui->PB_NetworkInputColor, &QPushButton::clicked, this, &MainWindow::setColor);
    connect(ui->PB_NetworkOutputColor, &QPushButton::clicked, this, &MainWindow::setColor);
    connect(ui->PB_SerialTimerStart, &QPushButton::clicked, this,
            &MainWindow::serialTimerStartClicked);
    connect(ui->TE_SerialPort, &Console::getData, this, &MainWindow::writeData);

    connect(ui->PB_ClearNetwork1, &QPushButton::clicked, this, &MainWindow::clearNetwork1);
    connect(ui->PB_ClearNetwork2, &QPushButton::clicked, this, &MainWindow::clearNetwork2);
    connect(ui->PB_ClearNetwork3, &QPushButton::clicked, this, &MainWindow::clearNetwork3);
    connect(ui->PB_ConnectNetwork1, &QPushButton::clicked, this, &MainWindow::connectNetwork1);
    connect(ui->PB_ConnectNetwork2, &QPushButton::clicked, this, &MainWindow::connectNetwork2);
    connect(ui->PB_ConnectNetwork3, &QPushButton::clicked, this, &MainWindow::connectNetwork3);
    connect(ui->PB_SendNetwork1, &QPushButton::clicked, this, &MainWindow::sendNetwork1);
    connect(ui->PB_SendNetwork2, &QPushButton::clicked, this, &MainWindow::sendNetwork2);
    connect(ui->PB_SendNetwork3, &QPushButton::clicked, this, &MainWindow::sendNetwork3);
    connect(ui->LE_Network1Cmd, &QLineEdit::returnPressed, ui->PB_SendNetwork1,
            &QPushButton::click);
    connect(ui->LE_Network2Cmd, &QLineEdit::returnPressed, ui->PB_SendNetwork2,
            &QPushButton::click);
    connect(ui->LE_Network3Cmd, &QLineEdit::returnPressed, ui->PB_SendNetwork3,
            &QPushButton::click);

    auto *network1Mode = new QButtonGroup(this);
    network1Mode->addButton(ui->RB_Network1Ascii, 0);
    network1Mode->addButton(ui->RB_Network1Hex, 1);
    connect(network1Mode, &QButtonGroup::idClicked, this, &MainWindow::setNetwork1AsciiHexMode);
    auto *network2Mode = new QButtonGroup(this);
    network2Mode->addButton(ui->RB_Network2Ascii, 0);
    network2Mode->addButton(ui->RB_Network2Hex, 1);
    connect(network2Mode, &QButtonGroup::idClicked, this, &MainWindow::setNetwork2AsciiHexMode);
    auto *network3Mode = new QButtonGroup(this);
    network3Mode->addButton(ui->RB_Network3Ascii, 0);
    network3Mode->addButton(ui->RB_Network3Hex, 1);
    connect(network3Mode, &QButtonGroup::idClicked, this, &MainWindow::setNetwork3AsciiHexMode);

    connect(network1SendTimer, &QTimer::timeout, this, &MainWindow::sendNetwork1);
    connect(network2SendTimer, &QTimer::timeout, this, &MainWindow::sendNetwork2);
    connect(network3SendTimer, &QTimer::timeout, this, &MainWindow::sendNetwork3);
    connect(ui->PB_Network1TimerStart, &QPushButton::clicked, this,
            &MainWindow::network1TimerStartClicked);
    connect(ui->PB_Network2TimerStart, &QPushButton::clicked, this,
            &MainWindow::network2TimerStartClicked);
    connect(ui->PB_Network3TimerStart, &QPushButton::clicked, this,
            &MainWindow::network3TimerStartClicked);

    connect(ui->actionExit, &QAction::triggered, this, &MainWindow::close);
    connect(ui->actionAbout, &QAction::triggered, aboutDialog, &AboutDialog::open);
}
