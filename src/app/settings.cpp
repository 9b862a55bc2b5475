#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QSettings>

namespace {
const QString settingsGroup = QStringLiteral("Setup_Parameter");
}

void MainWindow::initSettings()
{
    settingsFilePath = QDir::currentPath() + QStringLiteral("/demosettings.ini");
    loadSettings();

    showColor(ui->PB_SerialInputColor, serialInputColor);
    showColor(ui->PB_SerialOutputColor, serialOutputColor);
    showColor(ui->PB_NetworkInputColor, networkInputColor);
    showColor(ui->PB_NetworkOutputColor, networkOutputColor);

    ui->LE_SerialSentCount->setText(QString::number(serialSentCount));
    ui->LE_SerialRecvCount->setText(QString::number(serialRecvCount));
    ui->LE_Network1SentCount->setText(QString::number(network1SentCount));
    ui->LE_Network1RecvCount->setText(QString::number(network1RecvCount));
    ui->LE_Network2SentCount->setText(QString::number(network2SentCount));
    ui->LE_Network2RecvCount->setText(QString::number(network2RecvCount));
    ui->LE_Network3SentCount->setText(QString::number(network3SentCount));
    ui->LE_Network3RecvCount->setText(QString::number(network3RecvCount));

    // The serial console limits itself; the complete history lives in the logs.
    for (QTextEdit *view : { ui->TE_Network1, ui->TE_Network2, ui->TE_Network3 })
        view->document()->setMaximumBlockCount(100);
}

void MainWindow::loadSettings()
{
    QSettings settings(settingsFilePath, QSettings::IniFormat);
    settings.beginGroup(settingsGroup);
    // A port that is not present (or differs in case) leaves the selection alone.
    ui->CB_SerialPort->setCurrentText(
        settings.value(QStringLiteral("portname"), QStringLiteral("COM1")).toString());
    // An index beyond the list leaves no baud rate selected rather than a wrong one.
    ui->CB_BandRate->setCurrentIndex(settings.value(QStringLiteral("bandrate"), 0).toInt());
    ui->SB_SerialTimerSecond->setValue(
        settings.value(QStringLiteral("serialtimermsecond"), 1000).toInt());
    ui->LE_IPAddress1->setText(
        settings.value(QStringLiteral("networkipaddress"), QStringLiteral("192.168.1.100"))
            .toString());
    ui->LE_Port1->setText(
        settings.value(QStringLiteral("networkport"), QStringLiteral("6001")).toString());
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
    QSettings settings(settingsFilePath, QSettings::IniFormat);
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

void MainWindow::closeEvent(QCloseEvent *event)
{
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, QStringLiteral("TeskManager"),
        QStringLiteral("Do you want to save log file into your Documents directory?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    for (QFile *file : { serialLogFile, network1LogFile, network2LogFile, network3LogFile }) {
        if (answer == QMessageBox::Yes)
            file->close();
        else if (file->isOpen()) // never delete a file that this run did not create
            file->remove();
    }
    saveSettings();
    event->accept();
}
