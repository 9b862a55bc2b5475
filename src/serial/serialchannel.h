#pragma once

#include "channel.h"
#include "serialsettings.h"

#include <QByteArray>
#include <QSerialPort>

#include <optional>

class QComboBox;
class QPushButton;
class QTimer;

// A device that streams without ever pausing is still shown, in blocks of this size, instead of
// filling memory with a block that never ends.
constexpr int maxSerialBlock = 4096;
// How long the line must be quiet for a block to end.
constexpr int serialQuietMs = 10;

// The serial channel: its port ("serialPort") with the six line settings, and the intake that
// turns what the device sends into blocks. A block ends when the line has been quiet for 10 ms
// (the single-shot "serialPollTimer", restarted by every arrival) or reaches 4096 bytes; nothing
// runs while the port is closed or quiet.
class SerialChannel : public Channel {
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

    SerialChannel(const Widgets &widgets, const LineWidgets &line, const Context &context);
    ~SerialChannel() override;

    QSerialPort *port() const { return m_port; }
    const LineWidgets &lineWidgets() const { return m_line; }
    // DTR and RTS as each open sets them; unset, as the system leaves them.
    void setControlLines(std::optional<bool> dtr, std::optional<bool> rts)
    {
        m_dtr = dtr;
        m_rts = rts;
    }
    QTimer *quietTimer() const { return m_quietTimer; }

    // Opens the port with the settings the boxes show; false, with the reason, when it does not
    // open. Nobody is told but the caller.
    bool open(QString *why = nullptr);
    void close();
    // Sets DTR or RTS of the open port; false, with the reason, when it cannot.
    bool setControlLine(bool dtr, bool on, QString *why = nullptr);

    // What the Open button does: a port that does not open is told in a box.
    void openOrClose(bool open);
    void openFromForm();
    // Opens the port at start; with reconnection on, a port that is not there yet is tried
    // again every second instead of a box.
    void openAtStart();
    void handleError(QSerialPort::SerialPortError error);
    // Key presses of the console, unchanged, neither shown, counted nor logged.
    void writeKeys(const QByteArray &keys);
    // The line has been quiet: what it brought is one block.
    void endBlock();
    // Shows whatever the port holds at once and drops the rest of its input.
    void readNow();

protected:
    // A port whose device is gone stays open until its report is over.
    bool linkOpen() const override { return m_port->isOpen() && !m_closeAfterLoss; }
    QString notOpenReason() const override;
    void refuseSend() override;
    void refusePeriodicSend() override;
    bool sendsEmptyCommand() const override { return true; }
    bool writeToLink(const QByteArray &bytes, QString *problem) override;
    QIODevice *linkDevice() const override { return m_port; }
    QString otherEnd() const override { return windowText("the device"); }
    void closeLinkAtExit() override;
    void showLinkState(LinkState was) override;
    void show(const QString &text, const QColor &colour, const QString &logged) override;
    QString hexText(const QByteArray &bytes) const override { return serialHexRendering(bytes); }

private:
    void takeArrivals();
    // Shows the first `size` bytes taken in, in blocks of at most 4096, and lets them go.
    void showBlocks(int size);
    void readSettings();
    // Closes the port; what it still held ends the block.
    void closePort();
    void enableSettings(bool enable);
    void handleLoss();
    // Opens and configures the port; on failure the reason and the status bar's word for it.
    bool openPort(QString *why, QString *status = nullptr);
    void waitForPort(const QString &reason);

    LineWidgets m_line;
    QSerialPort *m_port;
    QTimer *m_quietTimer;
    // Tries the lost port again every second while reconnection is on.
    QTimer *m_reopenTimer;
    QByteArray m_block;
    SerialSettings m_settings;
    // The status bar's line while the port is open: its settings, and the control lines the
    // device could not set.
    QString m_openStatus;
    std::optional<bool> m_dtr;
    std::optional<bool> m_rts;
    // The device is gone, but its port is closed only once its report is over.
    bool m_closeAfterLoss = false;
};
