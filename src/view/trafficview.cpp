#include "trafficview.h"

#include "rendering.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

constexpr int frameMs = 16;
// While a flood comes in, the views' layout together takes at most this share of the GUI thread,
// each update about floodUpdateMs of it: the rest reads the links, logs and answers the user,
// and most of what a view lays out meanwhile is pushed out again by what follows. Laying out a
// long paragraph again costs the same however little is added to it, so the share is kept in
// time, not text.
constexpr double floodShare = 0.1;
constexpr int floodUpdateMs = 4;
// Once the flood is over, the views catch up with most of the thread, in updates short enough
// for the window to answer between them.
constexpr double catchUpShare = 0.8;
constexpr int catchUpUpdateMs = 12;
// Layout time that an update after a quiet moment may take at once, beyond any share: a lone line,
// or a command and its answer, are shown as they come.
constexpr qint64 layoutCreditNs = 4'000'000;
// How often a view takes in steady traffic, beyond the few updates in a row that a command and
// its answers need: each update lays out the whole view again, however little it adds, and a
// view that moves ten times a second is as easy to follow as one that follows every line.
constexpr qint64 steadyUpdateNs = 100'000'000;
constexpr double updatesInARow = 4;
// How long the event loop runs without text coming before a flood counts as over.
constexpr int floodOverMs = 2;
// However slow the layout seemed, an update moves a view on by at least this much.
constexpr int minCharsPerUpdate = 4096;
// The most characters one paragraph of a view takes, its break included: display breaks wait
// a little for a space and never split a surrogate pair, and a CR LF break is two characters.
constexpr int longestParagraph = maxDisplayParagraph + displayBreakGrace + 1 + 2;

int paragraphBreaks(const QString &text)
{
    int breaks = 0;
    for (int i = 0; i < text.size(); ++i) {
        if (!isParagraphBreak(text.at(i)))
            continue;
        ++breaks;
        // A CR LF pair inserted together is one break.
        if (text.at(i) == QLatin1Char('\r') && i + 1 < text.size()
            && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
    }
    return breaks;
}

// The length of the paragraph that `text` leaves open when inserted into one of `column`
// characters.
int columnAfter(const QString &text, int column)
{
    for (int i = text.size() - 1; i >= 0; --i)
        if (isParagraphBreak(text.at(i)))
            return text.size() - 1 - i;
    return column + text.size();
}

// Where a piece may be cut in two inserts that give the same text as one: not inside a CR LF
// pair (one break inserted together, two apart) nor a surrogate pair.
int safeCut(const QString &text, int at)
{
    at = std::clamp(at, 1, int(text.size()));
    if (at < text.size() && text.at(at) == QLatin1Char('\n')
        && text.at(at - 1) == QLatin1Char('\r'))
        ++at;
    if (at < text.size() && text.at(at).isLowSurrogate())
        ++at;
    return at;
}

// Paints a window at most once per display frame. Every arrival changes a counter, and in X
// each change would otherwise have the window painted and sent to the server, thousands of
// times a second in a flood. What changed within a frame is painted together at its end.
class RepaintPacer : public QObject {
public:
    static void install(QWidget *window)
    {
        // Found by name: the class has no meta-object of its own to be told apart by.
        if (!window->findChild<QObject *>(objectNameOfOne(), Qt::FindDirectChildrenOnly))
            new RepaintPacer(window);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::UpdateRequest)
            return false;
        if (m_releasing || !m_sincePaint.isValid() || m_sincePaint.elapsed() >= frameMs) {
            m_releasing = false;
            m_sincePaint.start();
            return false;
        }
        if (!m_frameEnd.isActive())
            m_frameEnd.start(int(frameMs - m_sincePaint.elapsed()));
        return true;
    }

private:
    static QString objectNameOfOne() { return QStringLiteral("repaintPacer"); }

    explicit RepaintPacer(QWidget *window)
        : QObject(window)
    {
        setObjectName(objectNameOfOne());
        m_frameEnd.setSingleShot(true);
        m_frameEnd.setTimerType(Qt::PreciseTimer);
        // The request held back leaves Qt waiting for its answer, asking for no other.
        connect(&m_frameEnd, &QTimer::timeout, this, [this, window] {
            m_releasing = true;
            QCoreApplication::postEvent(window, new QEvent(QEvent::UpdateRequest),
                                        Qt::LowEventPriority);
        });
        window->installEventFilter(this);
    }

    QElapsedTimer m_sincePaint;
    QTimer m_frameEnd;
    bool m_releasing = false;
};

// What a scroll bar shows.
struct SliderState {
    explicit SliderState(const QAbstractSlider *slider)
        : minimum(slider->minimum())
        , maximum(slider->maximum())
        , pageStep(slider->pageStep())
        , value(slider->value())
    {
    }
    bool operator==(const SliderState &other) const
    {
        return minimum == other.minimum && maximum == other.maximum && pageStep == other.pageStep
            && value == other.value;
    }

    int minimum;
    int maximum;
    int pageStep;
    int value;
};

// Repaints a scroll bar after an edit only when it shows something else. A view that holds its
// most paragraphs grows by what is added and shrinks back as the oldest go, each step with a
// range of its own, so its scroll bar, and in most styles everything beneath it, would be
// painted again for every line while it ends up as it was.
class ScrollBarRepaintGuard {
public:
    explicit ScrollBarRepaintGuard(QScrollBar *bar)
        : m_bar(bar->updatesEnabled() ? bar : nullptr)
        , m_before(bar)
    {
        // Set directly: setUpdatesEnabled(true) would repaint it in any case.
        if (m_bar)
            m_bar->setAttribute(Qt::WA_UpdatesDisabled);
    }
    ~ScrollBarRepaintGuard()
    {
        if (!m_bar)
            return;
        m_bar->setAttribute(Qt::WA_UpdatesDisabled, false);
        if (!(SliderState(m_bar) == m_before))
            m_bar->update();
    }

private:
    QScrollBar *m_bar;
    SliderState m_before;
};

// Repaints a view after an edit at its end as the scroll that the edit amounts to. A view that
// holds its most paragraphs drops the oldest as new ones come, and Qt then paints all of it
// again, although every line in sight above the edit has only moved up: those are moved on the
// screen and only what the edit changed is painted. Whatever else could have changed (the view
// was resized or scrolled in the edit, is focused or holds a selection) is painted whole.
class AppendRepaint {
public:
    // Before the edit, which appends at the view's cursor.
    AppendRepaint(QTextEdit *view, bool appending)
        : m_view(view)
        , m_viewport(view->viewport())
    {
        const qreal ratio = m_viewport->devicePixelRatioF();
        m_active = appending && view->isVisible() && m_viewport->updatesEnabled()
            && !view->hasFocus() && !view->textCursor().hasSelection()
            && view->horizontalScrollBar()->value() == 0 && ratio == std::floor(ratio);
        if (!m_active)
            return;
        m_changed = QTextCursor(view->textCursor().block());
        // The edit may insert right here, which would otherwise carry it along.
        m_changed.setKeepPositionOnInsert(true);
        m_valueBefore = view->verticalScrollBar()->value();
        m_sizeBefore = m_viewport->size();
        m_changedTopBefore = changedTop();
        // Set directly: setUpdatesEnabled(true) would repaint it whole.
        m_viewport->setAttribute(Qt::WA_UpdatesDisabled);
    }
    ~AppendRepaint() { finish(); }

    // After the edit, before anything scrolls the view.
    void finish()
    {
        if (!m_active)
            return;
        m_active = false;
        m_viewport->setAttribute(Qt::WA_UpdatesDisabled, false);
        const int value = m_view->verticalScrollBar()->value();
        const qreal top = changedTop();
        const qreal moved = top - m_changedTopBefore;
        const int dy = int(moved);
        if (value != m_valueBefore || m_viewport->size() != m_sizeBefore || moved != dy
            || top != std::floor(top) || dy > 0
            || (dy < 0 && value <= m_view->document()->documentMargin())) {
            m_viewport->update();
            return;
        }
        // The paragraphs above the edit are laid out as they were, only higher up by what left
        // the top of the view.
        if (dy < 0)
            m_viewport->scroll(0, dy);
        const int changedFrom = std::max(0, int(top) - value);
        const QRect area = m_viewport->rect();
        if (changedFrom < area.height())
            m_viewport->update(area.adjusted(0, changedFrom, 0, 0));
    }

private:
    qreal changedTop() const
    {
        return m_view->document()->documentLayout()->blockBoundingRect(m_changed.block()).top();
    }

    QTextEdit *m_view;
    QWidget *m_viewport;
    bool m_active = false;
    // At the start of the paragraph that the edit begins in, so that it follows the paragraphs
    // dropped before it; if that paragraph goes too, it ends up at the top.
    QTextCursor m_changed;
    int m_valueBefore = 0;
    QSize m_sizeBefore;
    qreal m_changedTopBefore = 0;
};

} // namespace

qint64 LayoutBudget::nowNs()
{
    if (!m_clock.isValid())
        m_clock.start();
    return m_clock.nsecsElapsed();
}

qint64 LayoutBudget::waitMs(double share)
{
    const qint64 now = nowNs();
    const double rate = share / (1 - share);
    // The thread's other work since the last look earns the views their share of it.
    m_creditNs = m_started
        ? std::min(layoutCreditNs, m_creditNs + qint64(double(now - m_creditAtNs) * rate))
        : layoutCreditNs;
    m_started = true;
    m_creditAtNs = now;
    if (m_creditNs >= 0)
        return 0;
    return qint64(std::ceil(double(-m_creditNs) / rate / 1e6));
}

void LayoutBudget::spend(qint64 spentNs)
{
    if (!m_started)
        waitMs(catchUpShare);
    // The layout's own time earns nothing.
    m_creditAtNs = nowNs();
    m_creditNs -= spentNs;
}

TrafficView::TrafficView(QTextEdit *view, LayoutBudget &budget)
    : QObject(view)
    , m_view(view)
    , m_budget(budget)
{
    setObjectName(view->objectName() + QStringLiteral("Traffic"));
    RepaintPacer::install(view->window());
    m_clock.start();
    m_steadyCredit = updatesInARow;
    m_updateTimer.setSingleShot(true);
    m_updateTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_updateTimer, &QTimer::timeout, this, &TrafficView::takeIn);
    // Whatever the user does to the view acts on what it would show by then.
    view->installEventFilter(this);
    view->viewport()->installEventFilter(this);
}

TrafficView::~TrafficView() = default;

void TrafficView::append(const QString &text, const QColor &colour)
{
    m_pending.push_back({ text, colour, false, std::nullopt });
    m_pendingChars += text.size();
    if (m_pendingChars > m_nextDropAt)
        dropUnshowable();
    m_arriving = true;
    // Due once the event loop has handled what else came: all of it goes in together.
    if (!m_updateTimer.isActive())
        m_updateTimer.start(0);
}

void TrafficView::clear()
{
    m_pending.clear();
    countPending();
    m_updateTimer.stop();
    m_view->clear();
}

void TrafficView::countsChanged(const ChannelCounts &counts)
{
    if (m_pending.empty()) {
        if (m_showCounts)
            m_showCounts(counts);
    } else {
        m_pending.back().counts = counts;
    }
}

bool TrafficView::eventFilter(QObject *, QEvent *event)
{
    if (!m_pending.empty()) {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::InputMethod:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::ContextMenu:
            catchUp();
            break;
        case QEvent::MouseMove:
            // Only a drag selects; a pointer that merely rests over a flooded view must not
            // have it laid out in full at every move.
            if (static_cast<QMouseEvent *>(event)->buttons() != Qt::NoButton)
                catchUp();
            break;
        default:
            break;
        }
    }
    return false;
}

void TrafficView::takeIn()
{
    // Whether text came since the last look.
    const bool arriving = std::exchange(m_arriving, false);
    const int floodChars = charsFor(floodUpdateMs);
    const bool backlog = m_pendingChars > floodChars;
    if (backlog && !arriving) {
        // The loop ran and nothing came: a flood is over, and the view catches up.
        if (const qint64 wait = m_budget.waitMs(catchUpShare))
            m_updateTimer.start(int(wait));
        else
            insertPending(charsFor(catchUpUpdateMs));
        return;
    }
    const qint64 wait = std::max(steadyWaitMs(), m_budget.waitMs(floodShare));
    if (wait > 0) {
        // While a flood lasts, the view looks again soon to see whether it is over.
        m_updateTimer.start(int(backlog ? std::min<qint64>(wait, floodOverMs) : wait));
        return;
    }
    // A flood's update spends the few in a row that a command and its answers may have: while it
    // lasts, the view moves ten times a second.
    m_steadyCredit = (backlog ? std::min(m_steadyCredit, 1.0) : m_steadyCredit) - 1;
    insertPending(floodChars);
}

qint64 TrafficView::steadyWaitMs()
{
    const qint64 now = m_clock.nsecsElapsed();
    m_steadyCredit
        = std::min(updatesInARow, m_steadyCredit + double(now - m_steadyAtNs) / steadyUpdateNs);
    m_steadyAtNs = now;
    // A timer may come a hair early.
    if (m_steadyCredit >= 0.99)
        return 0;
    return qint64(std::ceil((1 - m_steadyCredit) * double(steadyUpdateNs) / 1e6));
}

int TrafficView::charsFor(int updateMs) const
{
    return std::max(minCharsPerUpdate, int(m_charsPerMs * updateMs));
}

void TrafficView::learnRate(int inserted, qint64 spentNs)
{
    if (inserted >= minCharsPerUpdate && spentNs > 500000) {
        const double rate = inserted / (spentNs / 1e6);
        m_charsPerMs = std::clamp(0.5 * m_charsPerMs + 0.5 * rate, 500.0, 1e6);
    }
}

void TrafficView::insertPending(int maxChars)
{
    m_updateTimer.stop();
    if (m_pending.empty())
        return;
    // At the end of the view, text that the rest of the batch pushes out again is never laid out.
    // Elsewhere (the user put the cursor there) everything goes in, as it always did.
    const bool atEnd = m_view->textCursor().atEnd();
    const bool replaceAll = atEnd && dropPushedOut();
    QElapsedTimer clock;
    clock.start();
    const Inserted inserted = edit(atEnd ? maxChars : std::numeric_limits<int>::max(), replaceAll);
    const qint64 spentNs = clock.nsecsElapsed();
    learnRate(inserted.chars, spentNs);
    m_budget.spend(spentNs);
    countPending();
    // The counts of what is in the view now, in the same turn of the event loop as the text.
    if (inserted.counts && m_showCounts)
        m_showCounts(*inserted.counts);
    // The rest after the loop has had the time to read what else comes.
    if (!m_pending.empty())
        m_updateTimer.start(floodOverMs);
}

TrafficView::Inserted TrafficView::edit(int maxChars, bool replaceAll)
{
    Inserted inserted;
    QTextCursor edit(m_view->document());
    QScrollBar *bar = m_view->verticalScrollBar();
    const ScrollBarRepaintGuard guard(bar);
    AppendRepaint repaint(m_view, m_view->textCursor().atEnd() && !replaceAll);
    const QTextBlock firstChanged = m_view->textCursor().block();
    // One edit: the view is laid out once for the whole batch.
    edit.beginEditBlock();
    // The view's own format is left as it was, so text the user types is not coloured as
    // traffic.
    const OwnFormat own { m_view->fontWeight(), m_view->textColor() };
    if (replaceAll) {
        // The old paragraphs are replaced in the same edit rather than cleared first: an empty
        // view in between would drop its scroll bar and lay everything out again.
        QTextCursor all(m_view->document());
        all.select(QTextCursor::Document);
        m_view->setTextCursor(all);
    }
    while (!m_pending.empty() && inserted.chars < maxChars) {
        Piece &piece = m_pending.front();
        inserted.chars += insertPiece(piece, maxChars - inserted.chars, own);
        if (!piece.text.isEmpty())
            break;
        if (piece.counts)
            inserted.counts = piece.counts;
        m_pending.pop_front();
    }
    // A paragraph is laid out once and drawn at every repaint while it is in sight; by default
    // Qt keeps only its line breaks and shapes its text again for every draw.
    for (QTextBlock block = replaceAll ? m_view->document()->begin() : firstChanged;
         block.isValid(); block = block.next())
        block.layout()->setCacheEnabled(true);
    edit.endEditBlock();
    repaint.finish();
    bar->setValue(bar->maximum());
    return inserted;
}

bool TrafficView::dropPushedOut()
{
    const int maxBlocks = m_view->document()->maximumBlockCount();
    if (maxBlocks <= 0)
        return false;
    dropFarBehind(maxBlocks);
    int column = m_view->textCursor().block().length() - 1;
    for (Piece &piece : m_pending) {
        if (!piece.broken) {
            piece.text = withDisplayBreaks(piece.text, column);
            piece.broken = true;
        }
        column = columnAfter(piece.text, column);
    }
    int breaks = 0;
    for (auto it = m_pending.end(); it != m_pending.begin();) {
        --it;
        if (const int tail = survivingTailStart(it->text, maxBlocks - breaks)) {
            it->text.remove(0, tail);
            dropBefore(it);
            return true;
        }
        breaks += paragraphBreaks(it->text);
    }
    return false;
}

void TrafficView::dropUnshowable()
{
    // A flood keeps coming between two updates of the view, and all the view can ever show of
    // it is its last paragraphs: held in full, it would cost memory in step with the flood's
    // rate. Elsewhere than at the end (the user put the cursor there) it all goes in.
    const int maxBlocks = m_view->document()->maximumBlockCount();
    const qint64 showable = 2 * (maxBlocks + 1) * qint64(longestParagraph);
    if (maxBlocks > 0 && m_pendingChars > showable && m_view->textCursor().atEnd()) {
        dropFarBehind(maxBlocks);
        countPending();
    }
    // A flood without line breaks has nothing to drop: looked at again only once twice as much
    // waits, so that its pieces are not walked at every arrival.
    m_nextDropAt = std::max(showable, 2 * m_pendingChars);
}

void TrafficView::countPending()
{
    m_pendingChars = 0;
    for (const Piece &piece : m_pending)
        m_pendingChars += piece.text.size();
    m_nextDropAt = 0;
}

void TrafficView::dropBefore(std::deque<Piece>::iterator kept)
{
    // The counts are shown once the rest is, which never puts them ahead of the view.
    std::optional<ChannelCounts> latest;
    for (auto it = m_pending.begin(); it != kept; ++it)
        if (it->counts)
            latest = it->counts;
    if (!kept->counts)
        kept->counts = latest;
    m_pending.erase(m_pending.begin(), kept);
}

void TrafficView::dropFarBehind(int maxBlocks)
{
    // Text this long holds more than maxBlocks paragraphs however it is broken, so whatever
    // comes before it is dropped without the cost of breaking it first.
    const qint64 enough = qint64(maxBlocks + 1) * longestParagraph;
    qint64 after = 0;
    for (auto it = m_pending.end(); it != m_pending.begin();) {
        --it;
        if (after >= enough) {
            for (int i = it->text.size() - 1; i >= 0; --i) {
                if (!isParagraphBreak(it->text.at(i)))
                    continue;
                // The break stays: it ends whatever paragraph came before, so the rest is
                // broken just as it would have been.
                it->text.remove(0, i);
                dropBefore(it);
                return;
            }
        }
        after += it->text.size();
    }
}

int TrafficView::insertPiece(Piece &piece, int maxChars, const OwnFormat &own)
{
    if (!piece.broken) {
        piece.text = withDisplayBreaks(piece.text, m_view->textCursor().block().length() - 1);
        piece.broken = true;
    }
    const int cut
        = piece.text.size() > maxChars ? safeCut(piece.text, maxChars) : piece.text.size();

    m_view->setFontWeight(QFont::Normal);
    m_view->setTextColor(piece.colour);
    if (cut == piece.text.size()) {
        m_view->insertPlainText(piece.text);
        piece.text.clear();
    } else {
        m_view->insertPlainText(piece.text.left(cut));
        piece.text.remove(0, cut);
    }
    m_view->setFontWeight(own.weight);
    m_view->setTextColor(own.colour);
    return cut;
}
