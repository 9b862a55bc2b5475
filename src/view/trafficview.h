#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>

class QTextEdit;

// The GUI thread's time that the views of one window may spend laying out a flood: while views
// keep up with one, their layout together takes at most a share of it, so the rest reads the
// links, logs and answers the user. The window owns one and hands it to each of its views.
class LayoutBudget {
public:
    // How long an update must wait before it may start; 0 when it may start now.
    qint64 waitMs();
    // An update took this long: the next may start once the share allows it.
    void spend(qint64 spentNs);

private:
    qint64 nowMs();

    QElapsedTimer m_clock;
    qint64 m_nextUpdateAllowedMs = 0;
};

// A channel's traffic view. Its channel writes the log before the view gains the text, so the
// log always holds what was shown (and everything the view has long dropped).
//
// A lone arrival is shown at once, but while arrivals keep
// coming the view takes them in ten times a second: every update lays out the whole view again,
// so a flood of small arrivals, or four busy channels, would otherwise have Qt lay out the same
// paragraphs tens of times a second, mostly text the next arrivals push out of the view anyway,
// and the view would set the speed of the link. What came in meanwhile goes into the view in one
// edit, piece by piece as if appended one by one, so the view ends up exactly as it would have.
// While a flood lasts, the views' layout is held to a share of the GUI thread's time.
class TrafficView : public QObject {
    Q_OBJECT

public:
    TrafficView(QTextEdit *view, LayoutBudget &budget);
    ~TrafficView() override;

    // Inserts the text at the view's cursor in the colour, in normal weight, and scrolls to the
    // end.
    void append(const QString &text, const QColor &colour);
    // Empties the view; the log keeps everything.
    void clear();
    // Puts everything still waiting for a frame into the view now.
    void flush() { insertPending(false); }
    bool hasPending() const { return !m_pending.empty(); }
    qint64 pendingChars() const { return m_pendingChars; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Piece {
        QString text;
        QColor colour;
        // Whether the paragraph breaks of a long line were already added (they depend on the
        // line the piece continues, so they are added only once that is known).
        bool broken = false;
    };

    struct OwnFormat {
        int weight;
        QColor colour;
    };

    void insertPending(bool withinBudget);
    // True when the view should wait a little before taking in more; the timer is set for it.
    bool deferred();
    // Keeps the measured layout speed that sizes the next update's share of a frame.
    void learnRate(int inserted, qint64 spentNs);
    // Drops what the waiting text would push out of the view at its end; true when nothing
    // the view holds now survives either.
    bool dropPushedOut();
    // Drops the waiting text that so much text follows that none of it could be shown.
    void dropFarBehind(int maxBlocks);
    // The same while the text waits, when the view scrolls along at its end.
    void dropUnshowable();
    void countPending();
    // Inserts the piece, or its first `maxChars` or so characters; how many went in.
    int insertPiece(Piece &piece, int maxChars, const OwnFormat &own);

    QTextEdit *m_view;
    LayoutBudget &m_budget;
    std::deque<Piece> m_pending;
    qint64 m_pendingChars = 0;
    qint64 m_nextDropAt = 0;
    QTimer m_frameTimer;
    QElapsedTimer m_sinceInsert;
    // How many characters this view lays out per millisecond, learnt as it goes: hex pairs
    // cost more than plain text. It starts low: the first layout of a run loads and shapes the
    // font and costs several times what the next ones do, so a large first batch stalls.
    double m_charsPerMs = 500.0;
};
