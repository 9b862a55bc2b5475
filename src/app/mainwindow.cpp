#include "mainwindow.h"

#include "aboutdialog.h"
#include "accessiblenames.h"
#include "console.h"
#include "ui_mainwindow.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTcpSocket>
#include <QTimer>

namespace {
const QStringList logSuffixes
    = { QStringLiteral("-serial.txt"), QStringLiteral("-network1.txt"),
        QStringLiteral("-network2.txt"), QStringLiteral("-network3.txt") };
}

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
    nameAccessibleControls(ui);
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
    // Named for whoever looks at the window from outside (tests, the benchmark, a debugger).
    serialPort->setObjectName(QStringLiteral("serialPort"));
    tcpSocket1->setObjectName(QStringLiteral("tcpSocket1"));
    tcpSocket2->setObjectName(QStringLiteral("tcpSocket2"));
    tcpSocket3->setObjectName(QStringLiteral("tcpSocket3"));
    serialSendTimer->setObjectName(QStringLiteral("serialSendTimer"));
    serialPollTimer->setObjectName(QStringLiteral("serialPollTimer"));
    network1SendTimer->setObjectName(QStringLiteral("network1SendTimer"));
    network2SendTimer->setObjectName(QStringLiteral("network2SendTimer"));
    network3SendTimer->setObjectName(QStringLiteral("network3SendTimer"));
    for (QTcpSocket *socket : { tcpSocket1, tcpSocket2, tcpSocket3 })
        socket->setReadBufferSize(asciiReadChunk);

    makeChannels();
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
}

void MainWindow::makeChannels()
{
    serialTraffic = std::make_unique<TrafficView>(ui->TE_SerialPort, channelLogs[0]);
    serialCounters = std::make_unique<ChannelCounters>(
        serialSentCount, serialRecvCount, ui->LE_SerialSentCount, ui->LE_SerialRecvCount);

    const NetworkChannel::Shared shared { this,         ui->statusBar,     ui->LE_IPAddress1,
                                          ui->LE_Port1, networkInputColor, networkOutputColor };
    const std::array<QTextEdit *, 3> views { ui->TE_Network1, ui->TE_Network2, ui->TE_Network3 };
    for (int i = 0; i < 3; ++i)
        networkTraffic[i] = std::make_unique<TrafficView>(views[i], channelLogs[i + 1]);
    networkChannels[0] = std::make_unique<NetworkChannel>(
        shared,
        NetworkChannel::Parts { 1,
                                tcpSocket1,
                                network1SendTimer,
                                network1HexMode,
                                { network1SentCount, network1RecvCount, ui->LE_Network1SentCount,
                                  ui->LE_Network1RecvCount },
                                *networkTraffic[0],
                                ui->LE_Network1Cmd,
                                ui->PB_ConnectNetwork1,
                                ui->PB_Network1TimerStart,
                                ui->SB_Network1TimerSecond });
    networkChannels[1] = std::make_unique<NetworkChannel>(
        shared,
        NetworkChannel::Parts { 2,
                                tcpSocket2,
                                network2SendTimer,
                                network2HexMode,
                                { network2SentCount, network2RecvCount, ui->LE_Network2SentCount,
                                  ui->LE_Network2RecvCount },
                                *networkTraffic[1],
                                ui->LE_Network2Cmd,
                                ui->PB_ConnectNetwork2,
                                ui->PB_Network2TimerStart,
                                ui->SB_Network2TimerSecond });
    networkChannels[2] = std::make_unique<NetworkChannel>(
        shared,
        NetworkChannel::Parts { 3,
                                tcpSocket3,
                                network3SendTimer,
                                network3HexMode,
                                { network3SentCount, network3RecvCount, ui->LE_Network3SentCount,
                                  ui->LE_Network3RecvCount },
                                *networkTraffic[2],
                                ui->LE_Network3Cmd,
                                ui->PB_ConnectNetwork3,
                                ui->PB_Network3TimerStart,
                                ui->SB_Network3TimerSecond });

    for (ChannelLog &log : channelLogs)
        log.setErrorReporter([this](const QString &fileName, const QString &reason) {
            ui->statusBar->showMessage(tr("Log file error: %1: %2").arg(fileName, reason));
        });
}

void MainWindow::createChannelLogs()
{
    const QString folder = ChannelLog::folderPath();
    QDir dir(folder);
    if (!dir.exists())
        dir.mkpath(QStringLiteral("."));

    const QString prefix = ChannelLog::runPrefix(folder, logSuffixes);
    ChannelLog *firstFailure = nullptr;
    for (int i = 0; i < 4; ++i) {
        if (!channelLogs[i].open(prefix + logSuffixes[i]) && !firstFailure)
            firstFailure = &channelLogs[i];
    }
    serialLogFile = channelLogs[0].file();
    network1LogFile = channelLogs[1].file();
    network2LogFile = channelLogs[2].file();
    network3LogFile = channelLogs[3].file();
    // The status bar holds one message: the first failure stands for all of them.
    if (firstFailure)
        firstFailure->reportError();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Only an explicit No deletes a run's logs: Return, Escape and the window's close button
    // all keep them.
    QMessageBox question(QMessageBox::Question, QStringLiteral("TeskManager"),
                         QStringLiteral("Do you want to save log file into your Documents "
                                        "directory?"),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setDefaultButton(QMessageBox::Yes);
    question.setEscapeButton(QMessageBox::Yes);
    const bool keep = question.exec() != QMessageBox::No;
    for (ChannelLog &log : channelLogs) {
        if (keep)
            log.keep();
        else
            log.discard();
    }
    saveSettings();
    event->accept();
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
