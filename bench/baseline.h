#pragma once

#include <QByteArray>
#include <QFile>
#include <QSize>
#include <QString>
#include <QTextEdit>

// What a straightforward terminal does with a stream, to measure the program against: a plain
// shown QTextEdit keeping 100 blocks, one insertPlainText per arrival of everything buffered,
// rendered as the program renders that channel, and one write of the same text to a log file.
class NaiveView {
public:
    enum class Channel { Network, Serial };

    NaiveView(Channel channel, bool hex, const QString &logPath, const QSize &size);

    void take(const QByteArray &bytes);

    QTextEdit *widget() { return &m_view; }
    QString logPath() const { return m_log.fileName(); }
    int arrivals() const { return m_arrivals; }
    qint64 bytesTaken() const { return m_taken; }

private:
    Channel m_channel;
    bool m_hex;
    QTextEdit m_view;
    QFile m_log;
    int m_arrivals = 0;
    qint64 m_taken = 0;
};
