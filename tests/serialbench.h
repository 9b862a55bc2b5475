#pragma once

#include "mainwindow.h"
#include "pty.h"
#include "testenvironment.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPort>
#include <QStatusBar>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

// A main window in a throw-away home whose serial port list offers a pty; the test plays the
// device on the master side.
struct SerialBench {
    SerialBench() { selectPort(pty.slavePath()); }

    template<class T> T *widget(const char *name) const
    {
        return window.findChild<T *>(QLatin1String(name));
    }
    void select(const char *box, const QString &text) const
    {
        widget<QComboBox>(box)->setCurrentText(text);
    }
    void selectPort(const QString &name) const
    {
        auto *box = widget<QComboBox>("CB_SerialPort");
        box->addItem(name);
        box->setCurrentIndex(box->count() - 1);
    }
    void setHexMode(bool hex) const
    {
        widget<QRadioButton>(hex ? "RB_SerialHex" : "RB_SerialAscii")->click();
    }
    bool open(bool hex = false) const
    {
        setHexMode(hex);
        openButton()->click();
        return port()->isOpen();
    }

    QSerialPort *port() const { return window.findChild<QSerialPort *>(); }
    QTimer *timer(int index) const
    {
        return window.findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly).value(index);
    }
    QTimer *sendTimer() const { return timer(0); }
    QTimer *pollTimer() const { return timer(1); }
    QPushButton *openButton() const { return widget<QPushButton>("PB_OpenSerialPort"); }
    QPushButton *sendButton() const { return widget<QPushButton>("PB_SendSerialPort"); }
    QPushButton *timerButton() const { return widget<QPushButton>("PB_SerialTimerStart"); }
    QLineEdit *command() const { return widget<QLineEdit>("LE_SerialPortCmd"); }
    QTextEdit *console() const { return widget<QTextEdit>("TE_SerialPort"); }
    QString view() const { return console()->toPlainText(); }
    QString status() const { return widget<QStatusBar>("statusBar")->currentMessage(); }
    QString sent() const { return widget<QLineEdit>("LE_SerialSentCount")->text(); }
    QString received() const { return widget<QLineEdit>("LE_SerialRecvCount")->text(); }
    QString logPath() const
    {
        const QStringList logs = QDir(env.logDirPath()).entryList({ "*-serial.txt" });
        return logs.isEmpty() ? QString() : env.logDirPath() + '/' + logs.first();
    }
    QByteArray log() const { return env.logContents(QStringLiteral("-serial.txt")); }

    // Lets one poll take exactly these bytes into the channel's buffer, with the poll timer
    // stopped so that the line cannot be judged quiet in between.
    bool collect(const QByteArray &bytes)
    {
        pollTimer()->stop();
        const qint64 before = port()->bytesAvailable();
        if (!pty.write(bytes))
            return false;
        if (!QTest::qWaitFor([&] { return port()->bytesAvailable() >= before + bytes.size(); }))
            return false;
        return QMetaObject::invokeMethod(&window, "readSerialPort")
            && port()->bytesAvailable() == 0;
    }
    void resumePolling() const { pollTimer()->start(10); }

    TestEnvironment env;
    Pty pty;
    MainWindow window;
};
