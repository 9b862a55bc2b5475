#pragma once

#include <QCoreApplication>
#include <QStatusBar>
#include <QString>

// A failed send is told on the status bar, where it stays until the channel's next good send
// takes it off again: a channel that works must not go on looking broken.
inline QString sendFailurePrefix(const QString &channel)
{
    return QCoreApplication::translate("MainWindow", "Send failed on %1: ").arg(channel);
}

inline void showSendFailure(QStatusBar *bar, const QString &channel, const QString &reason)
{
    bar->showMessage(sendFailurePrefix(channel) + reason);
}

inline void clearSendFailure(QStatusBar *bar, const QString &channel)
{
    if (bar->currentMessage().startsWith(sendFailurePrefix(channel)))
        bar->clearMessage();
}
