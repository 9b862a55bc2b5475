#pragma once

#include <QLineEdit>
#include <QString>

// The fields that show a channel's SENT and RECV counters. They count operations (sends,
// arrivals), not bytes.
class ChannelCounters {
public:
    ChannelCounters(QLineEdit *sentDisplay, QLineEdit *receivedDisplay);

    void show(int sent, int received)
    {
        showIn(m_sentDisplay, sent);
        showIn(m_receivedDisplay, received);
    }

private:
    static void showIn(QLineEdit *field, int count)
    {
        const QString text = QString::number(count);
        if (field->text() != text)
            field->setText(text);
    }

    QLineEdit *m_sentDisplay;
    QLineEdit *m_receivedDisplay;
};
