#pragma once

#include "mainwindow.h"
#include "modaldialoghelper.h"
#include "pty.h"
#include "testenvironment.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextEdit>

// A window in a throw-away home, with a server on 127.0.0.1 and a pty to play the devices.
struct WindowBench {
    WindowBench() { server.listen(QHostAddress::LocalHost); }

    template<class T> T *widget(const QString &name) const { return window.findChild<T *>(name); }
    QTextEdit *view(const QString &channel) const { return widget<QTextEdit>("TE_" + channel); }
    QByteArray log(const QString &suffix) const { return env.logContents(suffix); }

    // Connects network channel n and returns the server's end of it.
    QTcpSocket *connectNetwork(int n)
    {
        widget<QLineEdit>("LE_IPAddress1")->setText(QStringLiteral("127.0.0.1"));
        widget<QLineEdit>("LE_Port1")->setText(QString::number(server.serverPort()));
        widget<QPushButton>(QStringLiteral("PB_ConnectNetwork%1").arg(n))->click();
        return server.waitForNewConnection(2000) ? server.nextPendingConnection() : nullptr;
    }
    bool openSerial()
    {
        auto *ports = widget<QComboBox>("CB_SerialPort");
        ports->addItem(pty.slavePath());
        ports->setCurrentIndex(ports->count() - 1);
        widget<QPushButton>("PB_OpenSerialPort")->click();
        return window.findChild<QSerialPort *>()->isOpen();
    }
    void send(const QString &channel, const QString &command)
    {
        widget<QLineEdit>("LE_" + channel + "Cmd")->setText(command);
        widget<QPushButton>("PB_Send" + channel)->click();
    }

    TestEnvironment env;
    ModalDialogHelper helper;
    QTcpServer server;
    Pty pty;
    MainWindow window;
};
