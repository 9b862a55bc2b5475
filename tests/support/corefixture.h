#pragma once

#include "linkends.h"
#include "networkchannel.h"
#include "serialchannel.h"
#include "session.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>

// The four channels of a run as the core holds them, numbered as the window numbers them: no
// panel, no widget, no box; their logs in a throw-away home, the serial line set to the pty.
// What a test reads is what the channels say by their signals.
class CoreFixture : public LinkEnds {
public:
    explicit CoreFixture(ChannelLog::Clock clock = {});
    ~CoreFixture() override;

    Session &session() const { return *m_session; }
    SerialChannel &serial() const { return serialChannel(); }
    NetworkChannel &network(int number = 1) const { return networkChannel(number); }

    // The text the channel handed on to be shown, in order, since it last started afresh.
    QString shown(int channel) const { return m_shown[size_t(channel)]; }
    QString shown(const Channel &channel) const { return shown(indexOf(channel)); }
    // The channel's counters.
    int sent(int channel) const { return this->channel(channel).sentCount(); }
    int received(int channel) const { return this->channel(channel).receivedCount(); }
    // What the channel said a person should hear of, in order: each refused send's reason, each
    // loss of its link ("lost: reason"), each log failure ("log: file: reason").
    QStringList failures(int channel) const { return m_failures[size_t(channel)]; }
    // Whether the channel's periodic send runs, and its timer with it: "running", "off", or
    // what is out of step.
    QString periodicSend(int channel) const;

    void setHexMode(int channel, bool hex) override;
    void send(int channel, const QString &command) override;
    void startPeriodicSend(int channel, const QString &command, int periodMs) override;
    bool connectTo(int channel, quint16 port) override;
    bool openSerial() override;

    QByteArray written(int channel) { return LinkEnds::written(channel); }
    QByteArray written(const Channel &channel) { return written(indexOf(channel)); }
    QByteArray log(int channel) const { return LinkEnds::log(channel); }
    QByteArray log(const Channel &channel) const { return log(indexOf(channel)); }
    QTcpSocket *connectNetwork(int channel = 1) { return LinkEnds::connectNetwork(channel); }
    QTcpSocket *peer(int channel = 1) const { return LinkEnds::peer(channel); }

private:
    int indexOf(const Channel &channel) const;

    std::unique_ptr<QObject> m_root;
    Session *m_session;
    std::array<QString, 4> m_shown;
    std::array<QStringList, 4> m_failures;
};
