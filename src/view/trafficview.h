#pragma once

#include <QColor>
#include <QString>

class ChannelLog;
class QTextEdit;

// A channel's traffic view together with its log: whatever the view gains, the log gains too,
// so the log always holds what was shown (and everything the view has long dropped).
class TrafficView {
public:
    TrafficView(QTextEdit *view, ChannelLog &log);

    // Inserts the text at the view's cursor in the colour, in normal weight, scrolls to the end
    // and writes the same text to the log.
    void append(const QString &text, const QColor &colour);
    // Empties the view; the log keeps everything.
    void clear();

    QTextEdit *view() const { return m_view; }

private:
    QTextEdit *m_view;
    ChannelLog &m_log;
};
