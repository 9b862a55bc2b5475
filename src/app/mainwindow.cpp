#include "mainwindow.h"

#include "aboutdialog.h"
#include "accessiblenames.h"
#include "console.h"
#include "messageboxes.h"
#include "ui_mainwindow.h"

#include "networkchannel.h"
#include "scriptrunner.h"
#include "serialchannel.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTcpSocket>
#include <QTextEdit>
#include <QTimer>

#include <cstdio>

namespace {

// The slots through which the form and the links reach one channel.
struct ChannelSlots {
    void (MainWindow::*send)();
    void (MainWindow::*clear)();
    void (MainWindow::*setMode)(int);
    void (MainWindow::*setPeriodicSend)(bool);
};

struct NetworkSlots {
    ChannelSlots common;
    void (MainWindow::*connectLink)(bool);
    void (MainWindow::*read)();
};

} // namespace

MainWindow::MainWindow(QWidget *parent, const RunOptions &options, ChannelLog::Clock clock)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , aboutDialog(nullptr)
    , commandLineOptions(options)
    , clock(std::move(clock))
{
    ui->setupUi(this);
    setWindowTitle(tr("TeskManager"));
    // On a screen smaller than the form the panels scroll instead of being cut off.
    auto *scrollArea = new QScrollArea(this);
    scrollArea->setObjectName(QStringLiteral("centralScrollArea"));
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setFocusPolicy(Qt::NoFocus);
    scrollArea->setWidgetResizable(true);
    scrollArea->setWidget(takeCentralWidget());
    setCentralWidget(scrollArea);
    aboutDialog = new AboutDialog(this);
    boxes = std::make_unique<MessageBoxes>(this, ui->statusBar);
    boxes->setUnattended(commandLineOptions.unattended());
    // Nothing that comes later may hold back the end on time.
    if (commandLineOptions.quitAfterMs)
        QTimer::singleShot(*commandLineOptions.quitAfterMs, this, &MainWindow::closeUnattended);

    makeChannels();
    nameAccessibleControls(ui);
    for (Channel *channel : channels)
        channel->nameAccessibleControls(channel == serialChannel ? tr("Serial") : channel->name());
    makeConnections();
    fillSerialParameterLists();
    fillSerialPortList();
    initSettings();
    if (!commandLineOptions.serialPorts.isEmpty()) {
        addSerialPorts(commandLineOptions.serialPorts);
        runSettings.setForRun(QStringLiteral("portname"), ui->CB_SerialPort->currentText());
        runSettings.setForRun(QStringLiteral("port"), ui->CB_SerialPort->currentIndex());
    }
    if (!commandLineOptions.scriptPath.isEmpty())
        makeScript();
    createChannelLogs();
    keepLogsAtExit = commandLineOptions.keepLogs;
    // Once the window is up: a box about a link that fails belongs in front of it.
    QTimer::singleShot(0, this, &MainWindow::startAsTold);
}

void MainWindow::startAsTold()
{
    const RunOptions &o = commandLineOptions;
    auto setForThisRun = [this](const QString &key, QLineEdit *field, const QString &value) {
        runSettings.setForRun(key, value);
        field->setText(value);
    };
    if (o.host)
        setForThisRun(QStringLiteral("networkipaddress"), ui->LE_IPAddress1, *o.host);
    if (o.port)
        setForThisRun(QStringLiteral("networkport"), ui->LE_Port1, *o.port);
    for (int i = 0; i < channelCount; ++i) {
        Channel *channel = channels[i];
        const Channel::Widgets &w = channel->widgets();
        if (o.commands[i])
            w.command->setText(*o.commands[i]);
        if (o.hexModes[i])
            (*o.hexModes[i] ? w.hex : w.ascii)->click();
        if (o.periodsMs[i]) {
            runSettings.setForRun(channel->key() + QStringLiteral("timermsecond"), *o.periodsMs[i]);
            w.period->setValue(*o.periodsMs[i]);
            channel->startPeriodicSendWhenOpen();
        }
    }
    if (o.openSerial)
        serialChannel->openAtStart();
    for (int number : o.connect)
        networkChannels[number - 1]->connectLink(true);
    if (script)
        startScriptWhenLinksSettle();
}

void MainWindow::makeScript()
{
    ScriptRunner::Channels reached { serialChannel, {} };
    for (NetworkChannel *channel : networkChannels)
        reached.network << channel;
    script = new ScriptRunner(commandLineOptions.scriptPath, commandLineOptions.scriptSource,
                              reached, ui->statusBar, clock, this);
    script->setTimestamps(serialChannel->timestamps());
    script->setReportPath(commandLineOptions.reportPath);
    connect(script, &ScriptRunner::finished, this, [this] {
        if (commandLineOptions.quitAfterScript)
            closeUnattended();
    });
}

void MainWindow::startScriptWhenLinksSettle()
{
    // A connect ends within its own 10 s; the bound is there should a link never settle.
    auto *bound = new QTimer(this);
    bound->setSingleShot(true);
    auto startOnce = [this, bound] {
        const bool settled = std::none_of(channels.begin(), channels.end(), [](Channel *c) {
            return c->linkState() == LinkState::Opening;
        });
        if (!settled && bound->isActive())
            return;
        bound->stop();
        bound->deleteLater();
        script->start();
    };
    for (Channel *channel : channels)
        connect(channel, &Channel::linkStateChanged, bound, startOnce);
    connect(bound, &QTimer::timeout, bound, startOnce);
    bound->start(15000);
    startOnce();
}

int MainWindow::exitStatus() const
{
    if (!script)
        return 0;
    return logsLost ? 3 : script->exitStatus();
}

void MainWindow::closeUnattended()
{
    if (!keepLogsAtExit)
        keepLogsAtExit = true;
    if (unattendedClose)
        return;
    // Nobody is there to answer a box: every one that is up, or comes up on the way out (the
    // exit question included), is dismissed as Escape would, until the window has closed.
    unattendedClose = new QTimer(this);
    connect(unattendedClose, &QTimer::timeout, this, [this] {
        if (QWidget *popup = QApplication::activePopupWidget()) {
            popup->close();
        } else if (QWidget *modal = QApplication::activeModalWidget()) {
            dismiss(modal);
        } else {
            unattendedClose->stop();
            if (!closed)
                close();
        }
    });
    unattendedClose->start(0);
}

void MainWindow::dismiss(QWidget *modal)
{
    auto *box = qobject_cast<QMessageBox *>(modal);
    QAbstractButton *answer = box ? box->escapeButton() : nullptr;
    if (box && !answer)
        answer = box->defaultButton();
    if (answer)
        answer->click();
    else if (auto *dialog = qobject_cast<QDialog *>(modal))
        dialog->reject();
    else
        modal->close();
}

MainWindow::~MainWindow()
{
    delete ui;
    ui = nullptr;
}

void MainWindow::makeChannels()
{
    const Channel::Context context { this, ui->statusBar, layoutBudget, clock, *boxes };
    const Ui::MainWindow &f = *ui;
    serialChannel = new SerialChannel({ f.TE_SerialPort, f.LE_SerialPortCmd, f.PB_SendSerialPort,
                                        f.PB_ClearSerialPort, f.PB_SerialTimerStart,
                                        f.SB_SerialTimerSecond, f.LE_SerialSentCount,
                                        f.LE_SerialRecvCount, f.RB_SerialAscii, f.RB_SerialHex },
                                      { f.CB_SerialPort, f.CB_BandRate, f.CB_DataBit, f.CB_Parity,
                                        f.CB_StopBit, f.CB_FlowControl, f.PB_OpenSerialPort },
                                      context);
    const Channel::Widgets networkWidgets[] = {
        { f.TE_Network1, f.LE_Network1Cmd, f.PB_SendNetwork1, f.PB_ClearNetwork1,
          f.PB_Network1TimerStart, f.SB_Network1TimerSecond, f.LE_Network1SentCount,
          f.LE_Network1RecvCount, f.RB_Network1Ascii, f.RB_Network1Hex },
        { f.TE_Network2, f.LE_Network2Cmd, f.PB_SendNetwork2, f.PB_ClearNetwork2,
          f.PB_Network2TimerStart, f.SB_Network2TimerSecond, f.LE_Network2SentCount,
          f.LE_Network2RecvCount, f.RB_Network2Ascii, f.RB_Network2Hex },
        { f.TE_Network3, f.LE_Network3Cmd, f.PB_SendNetwork3, f.PB_ClearNetwork3,
          f.PB_Network3TimerStart, f.SB_Network3TimerSecond, f.LE_Network3SentCount,
          f.LE_Network3RecvCount, f.RB_Network3Ascii, f.RB_Network3Hex },
    };
    QPushButton *const connectButtons[]
        = { f.PB_ConnectNetwork1, f.PB_ConnectNetwork2, f.PB_ConnectNetwork3 };
    static_assert(std::size(networkWidgets) == std::tuple_size_v<decltype(networkChannels)>);
    channels[0] = serialChannel;
    for (int i = 0; i < int(networkChannels.size()); ++i) {
        networkChannels[i] = new NetworkChannel(
            i + 1, networkWidgets[i], { f.LE_IPAddress1, f.LE_Port1, connectButtons[i] }, context);
        channels[i + 1] = networkChannels[i];
    }
}

void MainWindow::createChannelLogs()
{
    const QString folder = commandLineOptions.logDir.isEmpty() ? ChannelLog::folderPath()
                                                               : commandLineOptions.logDir;
    // A folder named on the command line was checked before the window; one from the home is
    // told here, where a person sees it and a run nobody watches leaves a word of it.
    const QString folderProblem = logFolderProblem(folder);
    if (!folderProblem.isEmpty()) {
        logsLost = true;
        const QString text = tr("The logs cannot be written: the folder %1 %2.")
                                 .arg(QDir::toNativeSeparators(folder), folderProblem);
        ui->statusBar->showMessage(text);
        std::fprintf(stderr, "teskmanager: %s\n", qPrintable(text));
        return;
    }

    QStringList suffixes;
    for (const auto &[suffix, log] : runLogs())
        suffixes << suffix;
    const QString prefix
        = ChannelLog::runPrefix(folder, suffixes, clock ? clock() : QDateTime::currentDateTime());
    ChannelLog *firstFailure = nullptr;
    for (const auto &[suffix, log] : runLogs()) {
        if (!log->open(prefix + suffix) && !firstFailure)
            firstFailure = log;
    }
    // The status bar holds one message: the first failure stands for all of them.
    if (firstFailure) {
        logsLost = true;
        firstFailure->reportError();
    }
}

QList<QPair<QString, ChannelLog *>> MainWindow::runLogs() const
{
    QList<QPair<QString, ChannelLog *>> logs;
    for (Channel *channel : channels)
        logs.append(
            { QLatin1Char('-') + channel->key() + QStringLiteral(".txt"), &channel->log() });
    if (script)
        logs.append({ QStringLiteral("-script.txt"), &script->log() });
    return logs;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (closed) {
        event->accept();
        return;
    }
    // Nothing the script asks for happens once the window is closing: it stops where it waits,
    // before any question, link or log. Its end must not close the window a second time.
    if (script) {
        const QSignalBlocker quiet(script);
        script->stop(tr("the window was closed before the script ended"));
    }
    // Only an explicit No deletes a run's logs: Return, Escape and the window's close button
    // all keep them.
    bool keep = keepLogsAtExit.value_or(true);
    if (!keepLogsAtExit)
        keep = boxes->ask(QStringLiteral("TeskManager"),
                          QStringLiteral("Do you want to save log file into your Documents "
                                         "directory?"),
                          QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
            != QMessageBox::No;
    // Every byte on a link is in its log: the periodic sends stop before any link closes, and
    // the links close, taking in what they still hold, before any log does.
    for (Channel *channel : channels)
        channel->shutDown();
    for (const auto &[suffix, log] : runLogs()) {
        if (keep)
            log->keep();
        else
            log->discard();
    }
    closed = true;
    saveSettings();
    event->accept();
}

void MainWindow::makeConnections()
{
    const ChannelSlots serialSlots { &MainWindow::sendSerialPort, &MainWindow::clearSerialPort,
                                     &MainWindow::setSerialAsciiHexMode,
                                     &MainWindow::serialTimerStartClicked };
    const NetworkSlots networkSlots[] = {
        { { &MainWindow::sendNetwork1, &MainWindow::clearNetwork1,
            &MainWindow::setNetwork1AsciiHexMode, &MainWindow::network1TimerStartClicked },
          &MainWindow::connectNetwork1,
          &MainWindow::readNetwork1 },
        { { &MainWindow::sendNetwork2, &MainWindow::clearNetwork2,
            &MainWindow::setNetwork2AsciiHexMode, &MainWindow::network2TimerStartClicked },
          &MainWindow::connectNetwork2,
          &MainWindow::readNetwork2 },
        { { &MainWindow::sendNetwork3, &MainWindow::clearNetwork3,
            &MainWindow::setNetwork3AsciiHexMode, &MainWindow::network3TimerStartClicked },
          &MainWindow::connectNetwork3,
          &MainWindow::readNetwork3 },
    };
    static_assert(std::size(networkSlots) == std::tuple_size_v<decltype(networkChannels)>);

    auto wire = [this](Channel *channel, const ChannelSlots &to) {
        const Channel::Widgets &w = channel->widgets();
        connect(w.sendButton, &QPushButton::clicked, this, to.send);
        connect(w.command, &QLineEdit::returnPressed, w.sendButton, &QPushButton::click);
        connect(channel->sendTimer(), &QTimer::timeout, this, to.send);
        connect(w.clearButton, &QPushButton::clicked, this, to.clear);
        connect(w.timerButton, &QPushButton::clicked, this, to.setPeriodicSend);
        auto *mode = new QButtonGroup(this);
        mode->addButton(w.ascii, 0);
        mode->addButton(w.hex, 1);
        connect(mode, &QButtonGroup::idClicked, this, to.setMode);
    };

    wire(serialChannel, serialSlots);
    connect(serialChannel->port(), &QSerialPort::errorOccurred, this, &MainWindow::handleError);
    connect(serialChannel->quietTimer(), &QTimer::timeout, this, &MainWindow::readSerialPort);
    connect(ui->PB_OpenSerialPort, &QPushButton::clicked, this,
            &MainWindow::serialOpenCloseButtonClicked);
    connect(ui->TE_SerialPort, &Console::getData, this, &MainWindow::writeData);

    for (int i = 0; i < int(networkChannels.size()); ++i) {
        NetworkChannel *channel = networkChannels[i];
        wire(channel, networkSlots[i].common);
        connect(channel->connectButton(), &QPushButton::clicked, this, networkSlots[i].connectLink);
        connect(channel->socket(), &QTcpSocket::readyRead, this, networkSlots[i].read);
        connect(channel->socket(), &QTcpSocket::errorOccurred, this, &MainWindow::displayError);
    }

    for (QPushButton *button : { ui->PB_SerialInputColor, ui->PB_SerialOutputColor,
                                 ui->PB_NetworkInputColor, ui->PB_NetworkOutputColor })
        connect(button, &QPushButton::clicked, this, &MainWindow::setColor);
    connect(ui->actionExit, &QAction::triggered, this, &MainWindow::close);
    connect(ui->actionAbout, &QAction::triggered, aboutDialog, &AboutDialog::open);
}
