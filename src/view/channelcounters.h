#pragma once

#include <QLineEdit>
#include <QString>

// A channel's SENT and RECV counters: the main window's two counts and the line edits that
// show them. They count operations (sends, arrivals), not bytes.
class ChannelCounters {
public:
    ChannelCounters(int &sent, int &received, QLineEdit *sentDisplay, QLineEdit *receivedDisplay)
        : m_sent(sent)
        , m_received(received)
        , m_sentDisplay(sentDisplay)
        , m_receivedDisplay(receivedDisplay)
    {
        // Records, not inputs; still focusable and selectable for copying and screen readers.
        m_sentDisplay->setReadOnly(true);
        m_receivedDisplay->setReadOnly(true);
    }

    void show() const
    {
        m_sentDisplay->setText(QString::number(m_sent));
        m_receivedDisplay->setText(QString::number(m_received));
    }
    void countSend() { m_sentDisplay->setText(QString::number(++m_sent)); }
    void countArrival() { m_receivedDisplay->setText(QString::number(++m_received)); }
    void reset()
    {
        m_sent = 0;
        m_received = 0;
        show();
    }

private:
    int &m_sent;
    int &m_received;
    QLineEdit *m_sentDisplay;
    QLineEdit *m_receivedDisplay;
};
