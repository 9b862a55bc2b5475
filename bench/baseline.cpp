#include "baseline.h"

#include "rendering.h"

NaiveView::NaiveView(Channel channel, bool hex, const QString &logPath, const QSize &size)
    : m_channel(channel)
    , m_hex(hex)
    , m_log(logPath)
{
    m_view.document()->setMaximumBlockCount(100);
    m_view.resize(size);
    m_view.show();
    m_log.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

void NaiveView::take(const QByteArray &bytes)
{
    QString text = m_hex ? hexRendering(bytes) : textRendering(bytes);
    if (m_channel == Channel::Serial)
        text = serialCleanup(std::move(text), false);
    else if (m_hex)
        text.append(QLatin1Char('\n'));
    m_view.moveCursor(QTextCursor::End);
    m_view.insertPlainText(text);
    m_log.write(text.toUtf8());
    ++m_arrivals;
    m_taken += bytes.size();
}
