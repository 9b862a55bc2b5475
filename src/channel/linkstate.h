#pragma once

#include <QMetaType>

// Where a channel's link is. Everything shown of the link (its button, the status bar), whether a
// periodic send runs and what a script waits for follow from it.
enum class LinkState {
    Closed,
    Opening, // an open or connect waits for its answer
    Open,
    Lost, // gone without being asked; tried again until it is back or the link is closed
};
Q_DECLARE_METATYPE(LinkState)
