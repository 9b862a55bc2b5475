#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>
#include <limits>
#include <optional>

class QTextEdit;

// How many sends and arrivals a channel has counted.
struct ChannelCounts {
    int sent = 0;
    int received = 0;
};

// The GUI thread's time that the views of one window may spend laying out what arrives. An
// update after a quiet moment starts at once; while updates follow each other, the views' layout
// together takes at most a share of the thread, so the rest reads the links, logs and answers the
// user. The window owns one and hands it to each of its views.
class LayoutBudget {
public:
    // How long an update must wait before it may start while the views may take `share` of the
    // thread; 0 when it may start now.
    qint64 waitMs(double share);
    // An update took this long.
    void spend(qint64 spentNs);

private:
    qint64 nowNs();

    QElapsedTimer m_clock;
    // Layout time the views may still take at once; below zero, what they took beyond their
    // share, to be made good by the thread's other work.
    qint64 m_creditNs;
    qint64 m_creditAtNs = 0;
    bool m_started = false;
};

// A channel's traffic view. Its channel writes the log before the view gains the text, so the
// log always holds what was shown (and everything the view has long dropped).
//
// The view takes in what came once the event loop has handled what
// is waiting, before it waits for more: a lone arrival or send, and all that came with it, is in
// the view by the time anyone can look. A flood comes faster than a view can be laid out, and every
// update lays out the whole view again, so while one lasts the views take it in a piece at a time
// within a small share of the GUI thread; once it is over, they catch up at once, in pieces short
// enough to keep the window answering. Whatever waits goes into the view piece by piece as if
// appended one by one, so the view ends up exactly as it would have; what the view would push out
// again is never laid out.
//
// The channel's counters change in the same update as the view: a count is shown once the view
// shows the traffic it counts, never before.
class TrafficView : public QObject {
    Q_OBJECT

public:
    TrafficView(QTextEdit *view, LayoutBudget &budget);
    ~TrafficView() override;

    // Inserts the text at the view's cursor in the colour, in normal weight, and scrolls to the
    // end.
    void append(const QString &text, const QColor &colour);
    // Empties the view; the log keeps everything. Counts that waited for what was dropped are
    // not shown: the counters are reset next, and show that.
    void clear();
    // What waits goes in once the event loop has handled what else came, as the pace allows.
    void showSoon()
    {
        if (!m_pending.empty() && !m_updateTimer.isActive())
            m_updateTimer.start(0);
    }
    // Puts everything still waiting into the view now.
    void catchUp() { insertPending(std::numeric_limits<int>::max()); }
    bool hasPending() const { return !m_pending.empty(); }
    qint64 pendingChars() const { return m_pendingChars; }

    // The counters of the traffic this view shows.
    void setCounters(std::function<void(const ChannelCounts &)> show)
    {
        m_showCounts = std::move(show);
    }
    // The counters hold these counts now, which count what was appended so far.
    void countsChanged(const ChannelCounts &counts);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Piece {
        QString text;
        QColor colour;
        // Whether the paragraph breaks of a long line were already added (they depend on the
        // line the piece continues, so they are added only once that is known).
        bool broken = false;
        // What the counters show once the view shows this piece.
        std::optional<ChannelCounts> counts;
    };

    struct OwnFormat {
        int weight;
        QColor colour;
    };

    // What an edit put into the view.
    struct Inserted {
        int chars = 0;
        std::optional<ChannelCounts> counts;
    };

    // The update timer's turn: takes in as much as the pace of updates and the layout budget
    // allow now, or looks again when they will.
    void takeIn();
    // How long steady traffic waits for the next update; 0 when it may go in now.
    qint64 steadyWaitMs();
    // What the view lays out in about so many milliseconds.
    int charsFor(int updateMs) const;
    // Inserts up to about `maxChars` of what waits in one edit, and shows the counts that go
    // with it.
    void insertPending(int maxChars);
    Inserted edit(int maxChars, bool replaceAll);
    // Keeps the measured layout speed that sizes the next update's share of a frame.
    void learnRate(int inserted, qint64 spentNs);
    // Drops what the waiting text would push out of the view at its end; true when nothing
    // the view holds now survives either.
    bool dropPushedOut();
    // Drops the waiting text that so much text follows that none of it could be shown.
    void dropFarBehind(int maxBlocks);
    // The same while the text waits, when the view scrolls along at its end.
    void dropUnshowable();
    // Drops the waiting pieces before `kept`, whose counts then go with it.
    void dropBefore(std::deque<Piece>::iterator kept);
    void countPending();
    // Inserts the piece, or its first `maxChars` or so characters; how many went in.
    int insertPiece(Piece &piece, int maxChars, const OwnFormat &own);

    QTextEdit *m_view;
    LayoutBudget &m_budget;
    std::function<void(const ChannelCounts &)> m_showCounts;
    std::deque<Piece> m_pending;
    qint64 m_pendingChars = 0;
    qint64 m_nextDropAt = 0;
    QTimer m_updateTimer;
    QElapsedTimer m_clock;
    // Text came since the update timer's last turn: a flood may be on.
    bool m_arriving = false;
    // Updates of steady traffic that may go in now, earned ten a second up to a few in a row.
    double m_steadyCredit = 0;
    qint64 m_steadyAtNs = 0;
    // How many characters this view lays out per millisecond, learnt as it goes: hex pairs
    // cost more than plain text. It starts low: the first layout of a run loads and shapes the
    // font and costs several times what the next ones do, so a large first batch stalls.
    double m_charsPerMs = 500.0;
};
