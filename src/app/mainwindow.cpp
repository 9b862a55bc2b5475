#include "mainwindow.h"

#include "aboutdialog.h"
#include "accessiblenames.h"
#include "colorselection.h"
#include "console.h"
#include "messageboxes.h"
#include "networkchannel.h"
#include "networkpanel.h"
#include "scriptstatus.h"
#include "scriptsuite.h"
#include "serialchannel.h"
#include "serialpanel.h"
#include "session.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTextEdit>
#include <QTimer>

#include <cstdio>

namespace {

// The slots through which the form and the channels reach one panel.
struct ChannelSlots {
    void (MainWindow::*send)();
    void (MainWindow::*clear)();
    void (MainWindow::*setMode)(int);
    void (MainWindow::*setPeriodicSend)(bool);
    void (MainWindow::*read)();
};

struct NetworkSlots {
    ChannelSlots common;
    void (MainWindow::*connectLink)(bool);
};

} // namespace

MainWindow::MainWindow(QWidget *parent, const RunOptions &options, ChannelLog::Clock clock)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , aboutDialog(nullptr)
    , commandLineOptions(options)
    , m_session(nullptr)
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
    m_session = new Session(std::move(clock), this);
    aboutDialog = new AboutDialog(this);
    boxes = std::make_unique<MessageBoxes>(this, ui->statusBar);
    boxes->setUnattended(commandLineOptions.unattended());
    // Nothing that comes later may hold back the end on time.
    if (commandLineOptions.quitAfterMs)
        QTimer::singleShot(*commandLineOptions.quitAfterMs, this, &MainWindow::closeUnattended);

    makePanels();
    nameAccessibleControls(ui);
    for (ChannelPanel *panel : panels)
        panel->nameAccessibleControls(panel == serialPanel ? tr("Serial") : panel->core().name());
    makeConnections();
    fillSerialParameterLists();
    fillSerialPortList();
    initSettings();
    if (!commandLineOptions.serialPorts.isEmpty()) {
        addSerialPorts(commandLineOptions.serialPorts);
        runSettings.setForRun(QStringLiteral("portname"), ui->CB_SerialPort->currentText());
        runSettings.setForRun(QStringLiteral("port"), ui->CB_SerialPort->currentIndex());
    }
    if (!commandLineOptions.scripts.isEmpty())
        makeScript();
    createChannelLogs();
    keepLogsAtExit = commandLineOptions.keepLogs;
    // Once the window is up: a box about a link that fails belongs in front of it.
    QTimer::singleShot(0, this, &MainWindow::startAsTold);
}

MainWindow::~MainWindow()
{
    delete ui;
    ui = nullptr;
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
        ChannelPanel *panel = panels[size_t(i)];
        const ChannelPanel::Widgets &w = panel->widgets();
        if (o.commands[size_t(i)])
            w.command->setText(*o.commands[size_t(i)]);
        if (o.hexModes[size_t(i)])
            (*o.hexModes[size_t(i)] ? w.hex : w.ascii)->click();
        if (o.periodsMs[size_t(i)]) {
            runSettings.setForRun(panel->core().key() + QStringLiteral("timermsecond"),
                                  *o.periodsMs[size_t(i)]);
            w.period->setValue(*o.periodsMs[size_t(i)]);
            panel->core().startPeriodicSendWhenOpen();
        }
    }
    if (o.openSerial)
        serialPanel->openAtStart();
    for (int number : o.connect)
        networkPanels[size_t(number) - 1]->connectLink(true);
    if (ScriptSuite *script = m_session->script()) {
        // A connect() that names no host or port goes where the form says when it is called.
        auto handOver = [this, script] {
            script->setDefaultPeer(ui->LE_IPAddress1->text(), ui->LE_Port1->text());
        };
        handOver();
        connect(ui->LE_IPAddress1, &QLineEdit::textChanged, script, handOver);
        connect(ui->LE_Port1, &QLineEdit::textChanged, script, handOver);
        m_session->startScriptWhenLinksSettle();
    }
}

void MainWindow::makeScript()
{
    ScriptSuite *script = m_session->makeScripts(commandLineOptions);
    if (commandLineOptions.scriptsOnConsole)
        m_session->reportScriptsOnConsole();
    new ScriptStatus(*script, ui->statusBar);
    connect(script, &ScriptSuite::finished, this, [this] {
        if (commandLineOptions.quitAfterScript)
            closeUnattended();
    });
}

int MainWindow::exitStatus() const
{
    if (!m_session->script())
        return 0;
    return logsLost ? 3 : m_session->exitStatus();
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

void MainWindow::makePanels()
{
    const PanelContext context { this, ui->statusBar, layoutBudget, *boxes };
    const Ui::MainWindow &f = *ui;
    serialPanel = new SerialPanel(m_session->serial(),
                                  { f.TE_SerialPort, f.LE_SerialPortCmd, f.PB_SendSerialPort,
                                    f.PB_ClearSerialPort, f.PB_SerialTimerStart,
                                    f.SB_SerialTimerSecond, f.LE_SerialSentCount,
                                    f.LE_SerialRecvCount, f.RB_SerialAscii, f.RB_SerialHex },
                                  { f.CB_SerialPort, f.CB_BandRate, f.CB_DataBit, f.CB_Parity,
                                    f.CB_StopBit, f.CB_FlowControl, f.PB_OpenSerialPort },
                                  context);
    const ChannelPanel::Widgets networkWidgets[] = {
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
    static_assert(std::size(networkWidgets) == std::tuple_size_v<decltype(networkPanels)>);
    panels[0] = serialPanel;
    for (int i = 0; i < int(networkPanels.size()); ++i) {
        networkPanels[size_t(i)]
            = new NetworkPanel(m_session->network(i + 1), networkWidgets[i],
                               { f.LE_IPAddress1, f.LE_Port1, connectButtons[i] }, context);
        panels[size_t(i) + 1] = networkPanels[size_t(i)];
    }
    colours = new ColourButtons(
        { f.PB_SerialInputColor, f.PB_SerialOutputColor, f.PB_NetworkInputColor,
          f.PB_NetworkOutputColor },
        { serialPanel, { networkPanels[0], networkPanels[1], networkPanels[2] } }, this);
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
    logsLost = !m_session->createLogs(folder);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (closed) {
        event->accept();
        return;
    }
    // Nothing the script asks for happens once the window is closing: it stops where it waits,
    // before any question, link or log. Its end must not close the window a second time.
    if (ScriptSuite *script = m_session->script()) {
        const QSignalBlocker quiet(script);
        script->interrupt(tr("the window was closed before the script ended"));
    }
    // Only an explicit No deletes a run's logs: Return, Escape and the window's close button
    // all keep them.
    const bool keep = keepLogsAtExit
        ? *keepLogsAtExit
        : boxes->ask(QStringLiteral("TeskManager"),
                     QStringLiteral("Do you want to save log file into your Documents "
                                    "directory?"),
                     QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
            != QMessageBox::No;
    m_session->shutDown(keep);
    closed = true;
    saveSettings();
    event->accept();
}

void MainWindow::changeEvent(QEvent *event)
{
    // The default colours follow the desktop's palette, and so do the buttons that show them.
    if (event->type() == QEvent::PaletteChange && colours)
        colours->show();
    QMainWindow::changeEvent(event);
}

void MainWindow::setColor()
{
    colours->choose(sender());
}

void MainWindow::makeConnections()
{
    const ChannelSlots serialSlots { &MainWindow::sendSerialPort, &MainWindow::clearSerialPort,
                                     &MainWindow::setSerialAsciiHexMode,
                                     &MainWindow::serialTimerStartClicked,
                                     &MainWindow::readSerialPort };
    const NetworkSlots networkSlots[] = {
        { { &MainWindow::sendNetwork1, &MainWindow::clearNetwork1,
            &MainWindow::setNetwork1AsciiHexMode, &MainWindow::network1TimerStartClicked,
            &MainWindow::readNetwork1 },
          &MainWindow::connectNetwork1 },
        { { &MainWindow::sendNetwork2, &MainWindow::clearNetwork2,
            &MainWindow::setNetwork2AsciiHexMode, &MainWindow::network2TimerStartClicked,
            &MainWindow::readNetwork2 },
          &MainWindow::connectNetwork2 },
        { { &MainWindow::sendNetwork3, &MainWindow::clearNetwork3,
            &MainWindow::setNetwork3AsciiHexMode, &MainWindow::network3TimerStartClicked,
            &MainWindow::readNetwork3 },
          &MainWindow::connectNetwork3 },
    };
    static_assert(std::size(networkSlots) == std::tuple_size_v<decltype(networkPanels)>);

    auto wire = [this](ChannelPanel *panel, const ChannelSlots &to) {
        const ChannelPanel::Widgets &w = panel->widgets();
        connect(w.sendButton, &QPushButton::clicked, this, to.send);
        connect(w.command, &QLineEdit::returnPressed, w.sendButton, &QPushButton::click);
        connect(w.clearButton, &QPushButton::clicked, this, to.clear);
        connect(w.timerButton, &QPushButton::clicked, this, to.setPeriodicSend);
        auto *mode = new QButtonGroup(this);
        mode->addButton(w.ascii, 0);
        mode->addButton(w.hex, 1);
        connect(mode, &QButtonGroup::idClicked, this, to.setMode);
        connect(&panel->core(), &Channel::arrived, this, to.read);
    };

    wire(serialPanel, serialSlots);
    connect(&m_session->serial(), &SerialChannel::errorOccurred, this, &MainWindow::handleError);
    connect(ui->PB_OpenSerialPort, &QPushButton::clicked, this,
            &MainWindow::serialOpenCloseButtonClicked);
    connect(ui->TE_SerialPort, &Console::getData, this, &MainWindow::writeData);

    for (int i = 0; i < int(networkPanels.size()); ++i) {
        NetworkPanel *panel = networkPanels[size_t(i)];
        wire(panel, networkSlots[i].common);
        connect(panel->linkWidgets().connectButton, &QPushButton::clicked, this,
                networkSlots[i].connectLink);
        connect(&panel->network(), &NetworkChannel::errorOccurred, this, &MainWindow::displayError);
    }

    for (QPushButton *button : { ui->PB_SerialInputColor, ui->PB_SerialOutputColor,
                                 ui->PB_NetworkInputColor, ui->PB_NetworkOutputColor })
        connect(button, &QPushButton::clicked, this, &MainWindow::setColor);
    connect(ui->actionExit, &QAction::triggered, this, &MainWindow::close);
    connect(ui->actionAbout, &QAction::triggered, aboutDialog, &AboutDialog::open);
}
