#include "mainwindow.h"
#include "settingsformat.h"

#include "ui_mainwindow.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {
const QString settingsGroup = QStringLiteral("Setup_Parameter");

// A hand-edited or damaged file may hold a point, a list or an unreadable value where text
// belongs; such a value would come back as an empty text, so the default is taken instead.
QString textSetting(const QSettings &settings, const QString &key, const QString &fallback)
{
    const QVariant value = settings.value(key, fallback);
    return value.canConvert<QString>() ? value.toString() : fallback;
}

// Only a plain file, or none yet, is a settings file. A named pipe in its place would block the
// program in the open until some writer comes along, and a folder cannot be written over.
bool usableSettingsPath(const QString &path)
{
    const QFileInfo file(path);
    return !file.exists() || file.isFile();
}
} // namespace

void MainWindow::initSettings()
{
    settingsFilePath = QDir::currentPath() + QStringLiteral("/demosettings.ini");
    loadSettings();

    showColor(ui->PB_SerialInputColor, serialInputColor);
    showColor(ui->PB_SerialOutputColor, serialOutputColor);
    showColor(ui->PB_NetworkInputColor, networkInputColor);
    showColor(ui->PB_NetworkOutputColor, networkOutputColor);

    serialCounters->show();
    for (const auto &channel : networkChannels)
        channel->showCounters();

    // The serial console limits itself; the complete history lives in the logs. The network
    // views are records of the traffic: typing into one would make it differ from its log, and
    // Tab leaves them like any other field. Their text can still be selected and copied.
    for (QTextEdit *view : { ui->TE_Network1, ui->TE_Network2, ui->TE_Network3 }) {
        view->document()->setMaximumBlockCount(100);
        view->setReadOnly(true);
        view->setTabChangesFocus(true);
    }
}

void MainWindow::loadSettings()
{
    // Settings on no file at all give every default.
    QSettings settings(usableSettingsPath(settingsFilePath) ? settingsFilePath : QString(),
                       QSettings::IniFormat);
    useUtf8Ini(settings);
    settings.beginGroup(settingsGroup);
    // A port that is not present (or differs in case) leaves the selection alone.
    ui->CB_SerialPort->setCurrentText(
        textSetting(settings, QStringLiteral("portname"), QStringLiteral("COM1")));
    // An index beyond the list leaves no baud rate selected rather than a wrong one.
    ui->CB_BandRate->setCurrentIndex(settings.value(QStringLiteral("bandrate"), 0).toInt());
    ui->SB_SerialTimerSecond->setValue(
        settings.value(QStringLiteral("serialtimermsecond"), 1000).toInt());
    ui->LE_IPAddress1->setText(
        textSetting(settings, QStringLiteral("networkipaddress"), QStringLiteral("192.168.1.100")));
    ui->LE_Port1->setText(
        textSetting(settings, QStringLiteral("networkport"), QStringLiteral("6001")));
    ui->SB_Network1TimerSecond->setValue(
        settings.value(QStringLiteral("network1timermsecond"), 1000).toInt());
    ui->SB_Network2TimerSecond->setValue(
        settings.value(QStringLiteral("network2timermsecond"), 1000).toInt());
    ui->SB_Network3TimerSecond->setValue(
        settings.value(QStringLiteral("network3timermsecond"), 1000).toInt());
    settings.endGroup();
}

void MainWindow::saveSettings()
{
    if (!usableSettingsPath(settingsFilePath))
        return;
    QSettings settings(settingsFilePath, QSettings::IniFormat);
    useUtf8Ini(settings);
    settings.beginGroup(settingsGroup);
    settings.setValue(QStringLiteral("port"), ui->CB_SerialPort->currentIndex());
    settings.setValue(QStringLiteral("portname"), ui->CB_SerialPort->currentText());
    settings.setValue(QStringLiteral("bandrate"), ui->CB_BandRate->currentIndex());
    settings.setValue(QStringLiteral("serialtimermsecond"), ui->SB_SerialTimerSecond->value());
    settings.setValue(QStringLiteral("networkipaddress"), ui->LE_IPAddress1->text());
    settings.setValue(QStringLiteral("networkport"), ui->LE_Port1->text());
    settings.setValue(QStringLiteral("network1timermsecond"), ui->SB_Network1TimerSecond->value());
    settings.setValue(QStringLiteral("network2timermsecond"), ui->SB_Network2TimerSecond->value());
    settings.setValue(QStringLiteral("network3timermsecond"), ui->SB_Network3TimerSecond->value());
    settings.endGroup();
    settings.sync();
}
