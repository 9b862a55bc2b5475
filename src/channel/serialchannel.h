#pragma once

#include "channel.h"
#include "serialsettings.h"

#include <QByteArray>
#include <QSerialPort>

#include <optional>

class QTimer;
class Rfc2217Link;
class SerialLine;
class SerialPortLink;

// A device that streams without ever pausing is still shown, in blocks of this size, instead of
// filling memory with a block that never ends.
constexpr int maxSerialBlock = 4096;
// How long the line must be quiet for a block to end.
constexpr int serialQuietMs = 10;

// The serial channel: its line with the six settings, and the intake that turns what the device
// sends into blocks. A block ends when the line has been quiet for 10 ms (the single-shot
// "serialPollTimer", restarted by every arrival) or reaches 4096 bytes; nothing runs while the
// line is closed or quiet.
class SerialChannel : public Channel {
    Q_OBJECT

public:
    explicit SerialChannel(ChannelLog::Clock clock = {}, QObject *parent = nullptr);
    ~SerialChannel() override;

    // The port of this computer that a local port name opens ("serialPort").
    QSerialPort *port() const;
    // The port server's link that an rfc2217:// or socket:// name opens.
    Rfc2217Link *remoteLink() const { return m_remote; }
    QTimer *quietTimer() const { return m_quietTimer; }

    // The port and the settings the next open uses.
    void setLineSettings(const SerialSettings &settings) { m_settings = settings; }
    const SerialSettings &lineSettings() const { return m_settings; }
    // DTR and RTS as each open sets them; unset, as the system leaves them.
    void setControlLines(std::optional<bool> dtr, std::optional<bool> rts)
    {
        m_dtr = dtr;
        m_rts = rts;
    }

    // Opens the line with its settings; false, with the reason and the status bar's word for
    // it, when it does not open. Nobody is told but the caller.
    bool open(QString *why = nullptr, QString *status = nullptr);
    // The same at start: with reconnection on, a port that is not there yet is tried again
    // every second, and the open counts as done.
    bool openAtStart(QString *why = nullptr, QString *status = nullptr);
    void close();
    void closeLink() override { close(); }
    // Sets DTR or RTS of the open line; false, with the reason, when it cannot.
    bool setControlLine(bool dtr, bool on, QString *why = nullptr);
    // What the status bar says while the line is open: its settings, and the control lines the
    // device could not set.
    QString openStatus() const { return m_openStatus; }
    // CTS, DSR, DCD and RI of the open line; false, with the reason, when it has none to tell.
    bool lines(QSerialPort::PinoutSignals *lines, QString *why = nullptr) const;
    // BREAK for `ms` milliseconds; false, with the reason, when the line cannot send one.
    bool sendBreak(int ms, QString *why = nullptr);

    // Key presses of a console, unchanged, neither shown, counted nor logged.
    void writeKeys(const QByteArray &keys);
    // The line has been quiet: what it brought is one block.
    void endBlock();
    // Shows whatever the line holds at once and drops the rest of its input.
    void readNow();

    QString notOpenReason() const override;
    bool sendsEmptyCommand() const override { return true; }

signals:
    // A failure a person should hear of; lastFailure() says it.
    void errorOccurred(QSerialPort::SerialPortError error);

protected:
    Link *link() const override;
    QString otherEnd() const override { return windowText("the device"); }
    QString hexText(const QByteArray &bytes) const override { return serialHexRendering(bytes); }
    void closeLinkAtExit() override;

private:
    void takeArrivals();
    // Shows the first `size` bytes taken in, in blocks of at most 4096, and lets them go.
    void showBlocks(int size);
    // Starts opening the line; true when it is open, or still opening.
    bool beginOpen();
    void onOpened();
    void onFailed(const QString &reason);
    void onLost(const QString &reason);
    void finishLoss();
    // Closes the line; what it still held ends the block.
    void closePort();
    // The link the port name asks for, in place for the next open.
    bool chooseLine(QString *why);
    void onNoted(const QString &text);

    SerialPortLink *m_local;
    Rfc2217Link *m_remote;
    SerialLine *m_line;
    QTimer *m_breakTimer;
    // What the line noted while it was opening: told with the open status.
    QStringList m_openNotes;
    QTimer *m_quietTimer;
    // Tries the lost line again every second while reconnection is on.
    QTimer *m_reopenTimer;
    QByteArray m_block;
    SerialSettings m_settings;
    QString m_openStatus;
    std::optional<bool> m_dtr;
    std::optional<bool> m_rts;
    bool m_opening = false;
    // Opened at start with reconnection on, and not answered yet.
    bool m_retryAtStart = false;
    // A loss seen and not yet taken to its end (the line closed, the note written).
    bool m_lossPending = false;
};
