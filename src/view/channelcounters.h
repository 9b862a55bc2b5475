#pragma once

#include <QLineEdit>

class TrafficView;

// How many sends and arrivals a channel has counted.
struct ChannelCounts {
    int sent = 0;
    int received = 0;
};

// A channel's SENT and RECV counters and the fields that show them. They count operations
// (sends, arrivals), not bytes.
//
// The fields never run ahead of the channel's view: a count is shown in the same update of the
// view as the traffic it counts, so whoever reads a count finds that traffic in the view. A
// channel therefore counts what it has just handed to the view.
class ChannelCounters {
public:
    ChannelCounters(QLineEdit *sentDisplay, QLineEdit *receivedDisplay, TrafficView &view);

    int sent() const { return m_counts.sent; }
    int received() const { return m_counts.received; }
    ChannelCounts counts() const { return m_counts; }
    void countSend();
    void countArrival();
    void reset();

    // What the fields show; the view calls it when it shows the traffic these counts go with.
    void show(const ChannelCounts &counts);

private:
    void changed();

    ChannelCounts m_counts;
    ChannelCounts m_shown { -1, -1 };
    QLineEdit *m_sentDisplay;
    QLineEdit *m_receivedDisplay;
    TrafficView &m_view;
};
