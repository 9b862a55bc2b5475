#include "colorselection.h"
#include "mainwindow.h"
#include "messageboxes.h"
#include "networkpanel.h"
#include "serialpanel.h"
#include "session.h"

#include "ui_mainwindow.h"

#include <QDir>
#include <QTextEdit>

void MainWindow::initSettings()
{
    settingsFilePath = QDir::currentPath() + QStringLiteral("/demosettings.ini");
    loadSettings();
    colours->show();

    // The serial console limits itself; the complete history lives in the logs. The network
    // views are records of the traffic: typing into one would make it differ from its log, and
    // Tab leaves them like any other field. Their text can still be selected and copied.
    for (NetworkPanel *panel : networkPanels) {
        QTextEdit *view = panel->widgets().view;
        view->document()->setMaximumBlockCount(100);
        view->setReadOnly(true);
        view->setTabChangesFocus(true);
    }
}

void MainWindow::loadSettings()
{
    runSettings.read(settingsFilePath);
    const RunSettings &file = runSettings;
    // A saved port that is not here now (an adapter unplugged, a pty not made yet) is still the
    // user's choice: it is listed and selected, so that Open says why it fails and the next
    // exit does not write another port over it.
    const std::optional<QString> portName = file.portName();
    if (portName && ui->CB_SerialPort->findText(*portName) < 0)
        addSerialPorts({ *portName });
    else
        ui->CB_SerialPort->setCurrentText(file.text(QStringLiteral("portname")));
    // An index beyond the list leaves no baud rate selected rather than a wrong one.
    ui->CB_BandRate->setCurrentIndex(file.bandRateIndex());
    ui->LE_IPAddress1->setText(file.networkAddress());
    ui->LE_Port1->setText(file.networkPort());
    for (ChannelPanel *panel : panels)
        panel->widgets().period->setValue(file.periodMs(panel->core().key()));

    // The keys beyond the form: a value that means nothing gives the default, and the command
    // line wins for this run.
    RunOptions options = file.runOptions();
    options.overrideWith(commandLineOptions);
    m_session->configure(options);
    if (options.baudRate) {
        // A rate beyond the list joins it; the driver says at Open whether it can run it.
        const int listed = ui->CB_BandRate->findData(*options.baudRate);
        if (listed < 0)
            ui->CB_BandRate->addItem(QString::number(*options.baudRate), *options.baudRate);
        ui->CB_BandRate->setCurrentIndex(listed < 0 ? ui->CB_BandRate->count() - 1 : listed);
    }
    if (commandLineOptions.baudRate) {
        runSettings.setForRun(QStringLiteral("bandrate"), ui->CB_BandRate->currentIndex());
        runSettings.setForRun(QStringLiteral("baudrate"), *commandLineOptions.baudRate);
    }
}

void MainWindow::saveSettings()
{
    QHash<QString, QVariant> shown = {
        { QStringLiteral("port"), ui->CB_SerialPort->currentIndex() },
        { QStringLiteral("portname"), ui->CB_SerialPort->currentText() },
        { QStringLiteral("bandrate"), ui->CB_BandRate->currentIndex() },
        { QStringLiteral("networkipaddress"), ui->LE_IPAddress1->text() },
        { QStringLiteral("networkport"), ui->LE_Port1->text() },
        { QStringLiteral("baudrate"), ui->CB_BandRate->currentData().toInt() },
    };
    for (ChannelPanel *panel : panels)
        shown.insert(panel->core().key() + QStringLiteral("timermsecond"),
                     panel->widgets().period->value());
    QString why;
    if (!runSettings.write(settingsFilePath, shown, &why))
        warnSettingsNotSaved(why);
}

void MainWindow::warnSettingsNotSaved(const QString &reason)
{
    boxes->tell(QMessageBox::Warning, tr("Settings"),
                tr("The settings could not be saved to %1: %2.")
                    .arg(QDir::toNativeSeparators(settingsFilePath), reason));
}
