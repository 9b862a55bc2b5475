#include "mainwindow.h"
#include "messageboxes.h"
#include "networkchannel.h"
#include "serialchannel.h"
#include "settingsformat.h"

#include "ui_mainwindow.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

namespace {
const QString settingsGroup = QStringLiteral("Setup_Parameter");

// Only a plain file, or none yet, is a settings file. A named pipe in its place would block the
// program in the open until some writer comes along, and a folder cannot be written over.
bool usableSettingsPath(const QString &path)
{
    const QFileInfo file(path);
    return !file.exists() || file.isFile();
}

// QSettings does not say why its write failed. Saving a file of about that size the same way (a
// new file beside it, never committed) meets the same refusal and does say why: the folder
// cannot be written, the disk is full, a size limit is reached. Only a second attempt at what a
// write left over yields the reason, hence the loop.
QString settingsWriteProblem(const QString &path)
{
    QSaveFile probe(path);
    if (!probe.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return probe.errorString();
    const QByteArray filler(int(qMax<qint64>(QFileInfo(path).size(), 4096)), ' ');
    QString reason = MainWindow::tr("the file could not be written");
    for (qint64 done = 0; done < filler.size();) {
        const qint64 written = probe.write(filler.constData() + done, filler.size() - done);
        if (written <= 0) {
            reason = probe.errorString();
            break;
        }
        done += written;
    }
    probe.cancelWriting();
    return reason;
}
} // namespace

void MainWindow::initSettings()
{
    settingsFilePath = QDir::currentPath() + QStringLiteral("/demosettings.ini");
    loadSettings();
    showColors();

    // The serial console limits itself; the complete history lives in the logs. The network
    // views are records of the traffic: typing into one would make it differ from its log, and
    // Tab leaves them like any other field. Their text can still be selected and copied.
    for (NetworkChannel *channel : networkChannels) {
        QTextEdit *view = channel->widgets().view;
        view->document()->setMaximumBlockCount(100);
        view->setReadOnly(true);
        view->setTabChangesFocus(true);
    }
}

void MainWindow::loadSettings()
{
    // Settings on no file at all give every default.
    runSettings.read(usableSettingsPath(settingsFilePath) ? settingsFilePath : QString());
    const RunSettings &file = runSettings;
    // A saved port that is not here now (an adapter unplugged, a pty not made yet) is still the
    // user's choice: it is listed and selected, so that Open says why it fails and the next
    // exit does not write another port over it.
    const QString portName = file.text(QStringLiteral("portname"));
    if (file.contains(QStringLiteral("portname")) && !portName.isEmpty()
        && ui->CB_SerialPort->findText(portName) < 0)
        addSerialPorts({ portName });
    else
        ui->CB_SerialPort->setCurrentText(portName);
    // An index beyond the list leaves no baud rate selected rather than a wrong one.
    ui->CB_BandRate->setCurrentIndex(file.integer(QStringLiteral("bandrate")));
    ui->LE_IPAddress1->setText(file.text(QStringLiteral("networkipaddress")));
    ui->LE_Port1->setText(file.text(QStringLiteral("networkport")));
    for (Channel *channel : channels)
        channel->widgets().period->setValue(
            file.integer(channel->key() + QStringLiteral("timermsecond")));

    // The keys beyond the form: a value that means nothing gives the default, and the command
    // line wins for this run.
    RunOptions options;
    for (int i = 0; i < channelCount; ++i)
        options.lineEndings[i]
            = lineEndingFromText(file.text(channels[i]->key() + QStringLiteral("lineending")));
    options.timestamps = timestampsFromText(file.text(QStringLiteral("timestamps")));
    options.dtr = switchFromText(file.text(QStringLiteral("serialdtr")));
    options.rts = switchFromText(file.text(QStringLiteral("serialrts")));
    options.baudRate = baudRateFromText(file.text(QStringLiteral("baudrate")));
    options.reconnect = wordFromText<bool>(file.text(QStringLiteral("reconnect")),
                                           { { "true", true }, { "false", false } });

    options.overrideWith(commandLineOptions);
    for (int i = 0; i < channelCount; ++i) {
        channels[i]->setLineEnding(options.lineEndings[i].value_or(LineEnding::LF));
        channels[i]->setTimestamps(options.timestamps.value_or(Timestamps::Off));
        channels[i]->setReconnect(options.reconnect.value_or(false));
    }
    serialChannel->setControlLines(options.dtr, options.rts);
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
    if (!usableSettingsPath(settingsFilePath)) {
        warnSettingsNotSaved(tr("it is not a plain file"));
        return;
    }
    QHash<QString, QVariant> shown = {
        { QStringLiteral("port"), ui->CB_SerialPort->currentIndex() },
        { QStringLiteral("portname"), ui->CB_SerialPort->currentText() },
        { QStringLiteral("bandrate"), ui->CB_BandRate->currentIndex() },
        { QStringLiteral("networkipaddress"), ui->LE_IPAddress1->text() },
        { QStringLiteral("networkport"), ui->LE_Port1->text() },
        { QStringLiteral("baudrate"), ui->CB_BandRate->currentData().toInt() },
    };
    for (Channel *channel : channels)
        shown.insert(channel->key() + QStringLiteral("timermsecond"),
                     channel->widgets().period->value());
    const QList<QPair<QString, QVariant>> values = runSettings.toWrite(shown);
    const QDateTime modifiedBefore = QFileInfo(settingsFilePath).lastModified();
    QSettings settings(settingsFilePath, QSettings::IniFormat);
    useUtf8Ini(settings);
    settings.beginGroup(settingsGroup);
    for (const auto &[key, value] : values)
        settings.setValue(key, value);
    settings.endGroup();
    settings.sync();
    // A damaged file reports its damage first and then nothing more, not even a failed write;
    // then only an untouched file tells that the write failed.
    const QFileInfo after(settingsFilePath);
    const bool failed = settings.status() == QSettings::AccessError || !after.exists()
        || (settings.status() == QSettings::FormatError && after.lastModified() == modifiedBefore);
    if (failed)
        warnSettingsNotSaved(settingsWriteProblem(settingsFilePath));
}

void MainWindow::warnSettingsNotSaved(const QString &reason)
{
    boxes->tell(QMessageBox::Warning, tr("Settings"),
                tr("The settings could not be saved to %1: %2.")
                    .arg(QDir::toNativeSeparators(settingsFilePath), reason));
}
