#pragma once

#include "channelpanel.h"

#include "serialsettings.h"

#include <QSerialPort>

class QComboBox;
class SerialChannel;

// The serial channel's panel: its line settings, its Open button, and a view that is also a
// terminal, tidied as one.
class SerialPanel : public ChannelPanel {
    Q_OBJECT

public:
    // The line settings and the Open button.
    struct LineWidgets {
        QComboBox *port;
        QComboBox *baudRate;
        QComboBox *dataBits;
        QComboBox *parity;
        QComboBox *stopBits;
        QComboBox *flowControl;
        QPushButton *openButton;
    };

    SerialPanel(SerialChannel &channel, const Widgets &widgets, const LineWidgets &line,
                const PanelContext &context);

    SerialChannel &serial() const { return m_serial; }
    const LineWidgets &lineWidgets() const { return m_line; }

    // What the Open button does: a port that does not open is told in a box.
    void openOrClose(bool open);
    void openFromForm();
    // Opens the port at start, as the command line asked.
    void openAtStart();
    // The channel's failure that a person should hear of.
    void reportError(QSerialPort::SerialPortError error);
    // What the boxes show, as the channel opens it.
    SerialSettings settingsShown() const;

protected:
    void refuseSend() override;
    void refusePeriodicSend() override;
    void showLinkState(LinkState was) override;
    QString shownText(const QString &text) const override;

private:
    void failOpen(const QString &why, const QString &status);
    void enableSettings(bool enable);

    SerialChannel &m_serial;
    LineWidgets m_line;
};
