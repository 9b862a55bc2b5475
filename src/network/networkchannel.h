#pragma once

#include <QString>

class QLineEdit;
class QPushButton;
class QSpinBox;
class QTcpSocket;
class QTextEdit;
class QTimer;

// The members and widgets of one network channel, gathered so that the three channels share
// one implementation. It only points into the main window and its form; it owns nothing.
struct NetworkChannel {
    int number; // 1, 2 or 3
    QTcpSocket *socket;
    QTextEdit *view;
    bool *hexMode;
    int *sentCount;
    int *recvCount;
    QTimer *sendTimer;
    QLineEdit *commandLine;
    QLineEdit *sentCountDisplay;
    QLineEdit *recvCountDisplay;
    QPushButton *connectButton;
    QPushButton *timerButton;
    QSpinBox *periodBox;

    QString name() const { return QStringLiteral("Network%1").arg(number); }
};

// How much one arrival reads at most, so that a flood becomes many small appends instead of a
// few huge ones that stall the window; every byte still arrives. Hex mode shows three characters
// per byte, so it reads less at a time to keep each append about as long as in ASCII.
constexpr qint64 asciiReadChunk = 64 * 1024;
constexpr qint64 hexReadChunk = 16 * 1024;

// The port typed into the port field: decimal text, anything unreadable counts as 0, and only
// the low 16 bits are kept (70000 is port 4464, -1 is port 65535).
quint16 networkPortFromText(const QString &text);
