#pragma once

#include "trafficview.h"

#include <QLineEdit>

// The fields that show a channel's SENT and RECV counters. They count operations (sends,
// arrivals), not bytes.
//
// The fields never run ahead of the channel's view: a count is shown in the same update of the
// view as the traffic it counts, so whoever reads a count finds that traffic in the view. A
// channel therefore counts what it has just handed to the view.
class ChannelCounters {
public:
    ChannelCounters(QLineEdit *sentDisplay, QLineEdit *receivedDisplay, TrafficView &view);

    // The channel counts this now, of what it handed to the view so far.
    void countsChanged(const ChannelCounts &counts);
    // What the fields show; the view calls it when it shows the traffic these counts go with.
    void show(const ChannelCounts &counts);

private:
    ChannelCounts m_shown { -1, -1 };
    QLineEdit *m_sentDisplay;
    QLineEdit *m_receivedDisplay;
    TrafficView &m_view;
};
