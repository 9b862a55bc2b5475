#include "channel.h"

#include "colorselection.h"
#include "commandhistory.h"
#include "sendstatus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTextEdit>
#include <QTimer>
#include <QVector>

#include <poll.h>

namespace {
// A link whose other end takes nothing must not grow the program's memory without bound: beyond
// this much waiting to leave, a send is refused.
constexpr qint64 maxBytesWaiting = 1024 * 1024;
} // namespace

Channel::Widgets Channel::findWidgets(const QWidget *form, const QString &viewName,
                                      const QString &name)
{
    auto named = [](const char *pattern, const QString &n) { return QString(pattern).arg(n); };
    return { formChild<QTextEdit>(form, named("TE_%1", viewName)),
             formChild<QLineEdit>(form, named("LE_%1Cmd", viewName)),
             formChild<QPushButton>(form, named("PB_Send%1", viewName)),
             formChild<QPushButton>(form, named("PB_Clear%1", viewName)),
             formChild<QPushButton>(form, named("PB_%1TimerStart", name)),
             formChild<QSpinBox>(form, named("SB_%1TimerSecond", name)),
             formChild<QLineEdit>(form, named("LE_%1SentCount", name)),
             formChild<QLineEdit>(form, named("LE_%1RecvCount", name)),
             formChild<QRadioButton>(form, named("RB_%1Ascii", name)),
             formChild<QRadioButton>(form, named("RB_%1Hex", name)) };
}

Channel::Channel(const QString &name, const Widgets &widgets, const Context &context,
                 const QColor &inputColour, const QColor &outputColour)
    : QObject(context.window)
    , m_name(name)
    , m_widgets(widgets)
    , m_window(context.window)
    , m_statusBar(context.statusBar)
    , m_inputColour(inputColour)
    , m_outputColour(outputColour)
    , m_log(context.clock)
    , m_traffic(std::make_unique<TrafficView>(widgets.view, m_log, context.layoutBudget))
    , m_counters(widgets.sentCount, widgets.receivedCount)
    , m_sendTimer(new QTimer(this))
    , m_history(new CommandHistory(widgets.command))
{
    setObjectName(key() + QStringLiteral("Channel"));
    m_sendTimer->setObjectName(key() + QStringLiteral("SendTimer"));
    m_log.setErrorReporter([this](const QString &fileName, const QString &reason) {
        m_statusBar->showMessage(tr("Log file error: %1: %2").arg(fileName, reason));
    });
}

Channel::~Channel() = default;

void Channel::nameAccessibleControls(const QString &translatedName)
{
    m_widgets.sentCount->setAccessibleName(tr("%1 sent count").arg(translatedName));
    m_widgets.receivedCount->setAccessibleName(tr("%1 received count").arg(translatedName));
    m_widgets.view->setAccessibleName(tr("%1 traffic").arg(translatedName));
    m_widgets.command->setAccessibleName(tr("%1 command").arg(translatedName));
    m_widgets.period->setAccessibleName(tr("%1 period in milliseconds").arg(translatedName));
}

void Channel::send()
{
    if (!linkOpen()) {
        refuseSend();
        return;
    }
    const QString text = m_widgets.command->text();
    if (text.isEmpty() && !sendsEmptyCommand())
        return;
    QString problem;
    const QByteArray bytes = encodeCommand(text, m_hexMode, &problem, m_lineEnd);
    // A command that cannot be sent whole, or a write that fails, never left: it is neither
    // counted nor shown.
    const qint64 waiting = linkDevice()->bytesToWrite();
    if (problem.isEmpty() && waiting + bytes.size() > maxBytesWaiting)
        problem = tr("%1 is not reading (%2 bytes waiting)").arg(otherEnd()).arg(waiting);
    if (problem.isEmpty())
        writeToLink(bytes, &problem);
    if (!problem.isEmpty()) {
        failSend(problem);
        return;
    }
    clearSendFailure(m_statusBar, m_name);
    m_history->add(text);
    m_counters.countSend();
    appendTraffic(text, m_outputColour, true, Direction::Sent);
}

void Channel::failSend(const QString &reason)
{
    // The same command would fail again at every tick.
    stopPeriodicSend();
    showSendFailure(m_statusBar, m_name, reason);
}

void Channel::clear()
{
    showIncompleteText();
    m_counters.reset();
    m_traffic->clear();
}

void Channel::setMode(int id)
{
    showIncompleteText();
    m_hexMode = id != 0;
    modeChanged();
}

void Channel::setPeriodicSend(bool start)
{
    if (!linkOpen()) {
        refusePeriodicSend();
        return;
    }
    if (start) {
        m_sendTimer->start(m_widgets.period->value());
        m_widgets.timerButton->setText(QStringLiteral("Stop"));
    } else {
        m_sendTimer->stop();
        m_widgets.timerButton->setText(QStringLiteral("Start"));
    }
}

void Channel::shutDown()
{
    m_periodicSendWaits = false;
    stopPeriodicSend();
    closeLinkAtExit();
}

void Channel::drainWrites(QIODevice *link)
{
    constexpr int patienceMs = 500;
    QElapsedTimer clock;
    clock.start();
    while (link->isOpen() && link->bytesToWrite() > 0 && clock.elapsed() < patienceMs
           && link->waitForBytesWritten(int(patienceMs - clock.elapsed()))) { }
}

bool Channel::inputWaiting(qintptr descriptor)
{
    pollfd watched { int(descriptor), POLLIN, 0 };
    return descriptor >= 0 && ::poll(&watched, 1, 0) > 0 && (watched.revents & POLLIN);
}

void Channel::startPeriodicSendWhenOpen()
{
    m_periodicSendWaits = true;
    if (linkOpen())
        linkIsUp();
}

void Channel::linkIsUp()
{
    if (!m_periodicSendWaits)
        return;
    m_periodicSendWaits = false;
    m_widgets.timerButton->setChecked(true);
    setPeriodicSend(true);
}

void Channel::noteLinkLost(const QString &reason)
{
    if (m_sendTimer->isActive())
        m_periodicSendWaits = true;
    stopPeriodicSend();
    noteLine(QStringLiteral("--- link lost: %1 ---").arg(reason));
}

void Channel::noteLinkBack()
{
    noteLine(QStringLiteral("--- link back ---"));
}

void Channel::noteLine(const QString &line)
{
    const QString lead = m_log.lineOpen() ? QStringLiteral("\n") : QString();
    const QString stamped
        = m_timestamps == Timestamps::Off ? line : stamp() + QLatin1Char(' ') + line;
    m_lineOpen = false;
    show(lead + (m_timestamps == Timestamps::View ? stamped : line) + QLatin1Char('\n'),
         mutedColour(), lead + stamped + QLatin1Char('\n'));
}

QColor Channel::mutedColour() const
{
    return m_widgets.view->palette().color(QPalette::PlaceholderText);
}

QString Channel::stamp() const
{
    return m_log.now().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}

void Channel::stopPeriodicSend()
{
    m_sendTimer->stop();
    m_widgets.timerButton->setChecked(false);
    m_widgets.timerButton->setText(QStringLiteral("Start"));
}

void Channel::appendTraffic(QString text, const QColor &pickedColour, bool lineBreak,
                            Direction direction, bool ownLine)
{
    if (lineBreak)
        text.append(QLatin1Char('\n'));
    // Resolved at each append, so that new text follows a palette changed on the way.
    const QColor colour
        = colourInUse(pickedColour, direction == Direction::Received, m_widgets.view->palette());
    if (m_timestamps == Timestamps::Off) {
        show(text, colour, text);
        return;
    }

    // Every line of the log starts with the time its first byte came or went and its
    // direction; a line of one direction is ended before the other's text goes on.
    struct Piece {
        QString text;
        bool stamp;
    };
    QVector<Piece> pieces;
    for (int from = 0; from < text.size();) {
        if (m_lineOpen && (m_lineDirection != direction || ownLine)) {
            pieces.append({ QStringLiteral("\n"), false });
            m_lineOpen = false;
        }
        ownLine = false;
        if (!m_lineOpen) {
            pieces.append({ stamp()
                                + (direction == Direction::Received ? QStringLiteral(" RX ")
                                                                    : QStringLiteral(" TX ")),
                            true });
            m_lineOpen = true;
            m_lineDirection = direction;
        }
        const int lineFeed = text.indexOf(QLatin1Char('\n'), from);
        const int end = lineFeed < 0 ? text.size() : lineFeed + 1;
        pieces.append({ text.mid(from, end - from), false });
        m_lineOpen = lineFeed < 0;
        from = end;
    }

    if (m_timestamps == Timestamps::View) {
        const QColor muted = mutedColour();
        for (const Piece &piece : qAsConst(pieces))
            show(piece.text, piece.stamp ? muted : colour, piece.text);
    } else {
        QString logged;
        for (const Piece &piece : qAsConst(pieces))
            logged += piece.text;
        show(text, colour, logged);
    }
}

void Channel::show(const QString &text, const QColor &colour, const QString &logged)
{
    m_traffic->append(text, colour, logged);
}

void Channel::appendReceived(const QByteArray &bytes)
{
    // A hex block stands on a line of its own, so that its pairs are never read as the end of
    // another block's.
    appendTraffic(m_hexMode ? hexText(bytes) : m_receivedText.render(bytes), m_inputColour, false,
                  Direction::Received, m_hexMode);
    m_counters.countArrival();
}

void Channel::showIncompleteText()
{
    const QString rest = m_receivedText.takeIncomplete();
    if (!rest.isEmpty())
        appendTraffic(rest, m_inputColour, false, Direction::Received);
}
