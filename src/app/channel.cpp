#include "channel.h"

#include "colorselection.h"
#include "commandhistory.h"
#include "sendstatus.h"
#include "trafficview.h"

#include <QElapsedTimer>
#include <QIODevice>
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

Channel::Channel(const QString &name, const Widgets &widgets, const Context &context)
    : QObject(context.window)
    , m_name(name)
    , m_widgets(widgets)
    , m_window(context.window)
    , m_statusBar(context.statusBar)
    , m_log(context.clock)
    , m_traffic(new TrafficView(widgets.view, m_log, context.layoutBudget))
    , m_counters(widgets.sentCount, widgets.receivedCount, *m_traffic)
    , m_sendTimer(new QTimer(this))
    , m_history(new CommandHistory(widgets.command))
{
    qRegisterMetaType<LinkState>();
    setObjectName(key() + QStringLiteral("Channel"));
    // It watches the view, but it writes to this channel's log: it goes with the channel.
    m_traffic->setParent(this);
    m_sendTimer->setObjectName(key() + QStringLiteral("SendTimer"));
    m_log.setErrorReporter([this](const QString &fileName, const QString &reason) {
        m_statusBar->showMessage(windowText("Log file error: %1: %2").arg(fileName, reason));
    });
}

Channel::~Channel() = default;

void Channel::nameAccessibleControls(const QString &translatedName)
{
    auto named = [&](const char *text) { return windowText(text).arg(translatedName); };
    m_widgets.sentCount->setAccessibleName(named("%1 sent count"));
    m_widgets.receivedCount->setAccessibleName(named("%1 received count"));
    m_widgets.view->setAccessibleName(named("%1 traffic"));
    m_widgets.command->setAccessibleName(named("%1 command"));
    m_widgets.period->setAccessibleName(named("%1 period in milliseconds"));
}

void Channel::setColours(const QColor &input, const QColor &output)
{
    m_inputColour = input;
    m_outputColour = output;
}

void Channel::sendFromForm()
{
    if (!linkOpen()) {
        refuseSend();
        return;
    }
    const QString text = m_widgets.command->text();
    if (text.isEmpty() && !sendsEmptyCommand())
        return;
    if (send(text))
        m_history->add(text);
}

bool Channel::send(const QString &command, QString *why, std::optional<bool> hex)
{
    QString problem;
    if (!linkOpen()) {
        problem = notOpenReason();
        if (why)
            *why = problem;
        return false;
    }
    const QByteArray bytes = encodeCommand(command, hex.value_or(m_hexMode), &problem, m_lineEnd);
    // A command that cannot be sent whole, or a write that fails, never left: it is neither
    // counted nor shown.
    const qint64 waiting = linkDevice()->bytesToWrite();
    if (problem.isEmpty() && waiting + bytes.size() > maxBytesWaiting)
        problem = windowText("%1 is not reading (%2 bytes waiting)").arg(otherEnd()).arg(waiting);
    if (problem.isEmpty())
        writeToLink(bytes, &problem);
    if (!problem.isEmpty()) {
        failSend(problem);
        if (why)
            *why = problem;
        return false;
    }
    clearSendFailure(m_statusBar, m_name);
    // Counted once shown, so that the count goes with it.
    appendTraffic(command, Direction::Sent, true);
    m_counters.countSend();
    return true;
}

bool Channel::sendBytes(const QByteArray &bytes, QString *why)
{
    return send(hexRendering(bytes).trimmed(), why, true);
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
    // The view empties first, so that the counters' zeros go with an empty view.
    m_traffic->clear();
    m_counters.reset();
}

void Channel::setHexMode(bool hex)
{
    showIncompleteText();
    m_hexMode = hex;
    modeChanged();
}

void Channel::setPeriodicSend(bool start)
{
    if (!linkOpen()) {
        refusePeriodicSend();
        return;
    }
    if (start)
        runPeriodicSend();
    else
        stopPeriodicSend();
}

void Channel::runPeriodicSend()
{
    m_periodicSend = PeriodicSend::On;
    m_widgets.timerButton->setChecked(true);
    m_sendTimer->start(m_widgets.period->value());
    m_widgets.timerButton->setText(QStringLiteral("Stop"));
}

void Channel::stopPeriodicSend()
{
    m_periodicSend = PeriodicSend::Off;
    m_sendTimer->stop();
    m_widgets.timerButton->setChecked(false);
    m_widgets.timerButton->setText(QStringLiteral("Start"));
}

void Channel::startPeriodicSendWhenOpen()
{
    if (linkOpen())
        runPeriodicSend();
    else
        m_periodicSend = PeriodicSend::AwaitingLink;
}

void Channel::setLinkState(LinkState state)
{
    const LinkState was = m_linkState;
    m_linkState = state;
    switch (state) {
    case LinkState::Open:
        if (m_periodicSend == PeriodicSend::AwaitingLink)
            runPeriodicSend();
        break;
    case LinkState::Lost:
        // Resumed when the link is back.
        if (m_periodicSend == PeriodicSend::On) {
            stopPeriodicSend();
            m_periodicSend = PeriodicSend::AwaitingLink;
        }
        break;
    case LinkState::Closed:
    case LinkState::Closing:
        stopPeriodicSend();
        break;
    case LinkState::Opening:
        break;
    }
    showLinkState(was);
    if (state != was)
        emit linkStateChanged(state);
}

void Channel::shutDown()
{
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

void Channel::appendTraffic(QString text, Direction direction, bool lineBreak, bool ownLine)
{
    if (lineBreak)
        text.append(QLatin1Char('\n'));
    // Resolved at each append, so that new text follows a palette changed on the way.
    const bool received = direction == Direction::Received;
    const QColor colour = colourInUse(received ? m_inputColour : m_outputColour, received,
                                      m_widgets.view->palette());
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
            pieces.append(
                { stamp() + (received ? QStringLiteral(" RX ") : QStringLiteral(" TX ")), true });
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
    appendTraffic(m_hexMode ? hexText(bytes) : m_receivedText.render(bytes), Direction::Received,
                  false, m_hexMode);
    m_counters.countArrival();
}

void Channel::showIncompleteText()
{
    const QString rest = m_receivedText.takeIncomplete();
    if (!rest.isEmpty())
        appendTraffic(rest, Direction::Received, false);
}
