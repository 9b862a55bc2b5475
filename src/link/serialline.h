#pragma once

#include "link.h"
#include "serialsettings.h"

#include <QSerialPort>

// A serial line, wherever its port is: a local port, or one on a port server. It is opened
// with the settings it was last given, and its control lines can be set while it is open.
class SerialLine : public Link {
    Q_OBJECT

public:
    enum class ControlLine { Dtr, Rts };

    using Link::Link;

    virtual void setSettings(const SerialSettings &settings) = 0;
    // Sets DTR or RTS of the open line; false, with the reason, when the line cannot.
    virtual bool setControlLine(ControlLine line, bool on, QString *why) = 0;
    // Drops what has arrived and was not read.
    virtual void clearInput() = 0;
    // After failed(): the status bar's word for what failed ("Open serial error").
    virtual QString failureStatus() const = 0;
    // CTS, DSR, DCD and RI as the line has them now; false, with the reason, when it has none
    // (a pty, a raw TCP port).
    virtual bool lines(QSerialPort::PinoutSignals *lines, QString *why) const = 0;
    // BREAK on or off; false, with the reason, when the line cannot.
    virtual bool setBreak(bool on, QString *why) = 0;

signals:
    // Something about the open line a person should read beside its traffic: a setting the far
    // end answered with another value, a framing or parity error it saw.
    void noted(const QString &text);
};
