#pragma once

#include <QLineEdit>
#include <QString>

// A channel's SENT and RECV counters and the fields that show them. They count operations
// (sends, arrivals), not bytes.
class ChannelCounters {
public:
    ChannelCounters(QLineEdit *sentDisplay, QLineEdit *receivedDisplay);

    int sent() const { return m_sent; }
    int received() const { return m_received; }
    void countSend() { m_sentDisplay->setText(QString::number(++m_sent)); }
    void countArrival() { m_receivedDisplay->setText(QString::number(++m_received)); }
    void reset()
    {
        m_sent = 0;
        m_received = 0;
        show();
    }

private:
    void show() const
    {
        m_sentDisplay->setText(QString::number(m_sent));
        m_receivedDisplay->setText(QString::number(m_received));
    }

    int m_sent = 0;
    int m_received = 0;
    QLineEdit *m_sentDisplay;
    QLineEdit *m_receivedDisplay;
};
