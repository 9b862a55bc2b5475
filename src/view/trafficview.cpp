#include "trafficview.h"

#include "channellog.h"
#include "rendering.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextEdit>

TrafficView::TrafficView(QTextEdit *view, ChannelLog &log)
    : m_view(view)
    , m_log(log)
{
}

void TrafficView::append(const QString &text, const QColor &colour)
{
    const int weight = m_view->fontWeight();
    const QColor previousColour = m_view->textColor();
    const QTextCursor cursor = m_view->textCursor();
    QString shown = withDisplayBreaks(text, cursor.block().length() - 1);

    // A large arrival at the end would push out everything the view holds and most of itself;
    // laying out text that is dropped at once only stalls the window. The view ends up with the
    // same paragraphs either way.
    // The old paragraphs are replaced in the same edit rather than cleared first: an empty view
    // in between would drop its scroll bar and lay everything out again when it comes back.
    const int maxBlocks = m_view->document()->maximumBlockCount();
    if (maxBlocks > 0 && cursor.atEnd()) {
        if (const int tail = survivingTailStart(shown, maxBlocks)) {
            QTextCursor all(m_view->document());
            all.select(QTextCursor::Document);
            m_view->setTextCursor(all);
            shown.remove(0, tail);
        }
    }

    // The view's own format is left as it was, so text the user types is not coloured as
    // traffic.
    m_view->setFontWeight(QFont::Normal);
    m_view->setTextColor(colour);
    m_view->insertPlainText(shown);
    m_view->setFontWeight(weight);
    m_view->setTextColor(previousColour);
    QScrollBar *bar = m_view->verticalScrollBar();
    bar->setValue(bar->maximum());

    m_log.write(text);
}

void TrafficView::clear()
{
    m_view->clear();
}
