#include "channelpanel.h"

#include "colours.h"
#include "commandhistory.h"
#include "messageboxes.h"
#include "sendstatus.h"
#include "trafficview.h"

#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTextEdit>

ChannelPanel::ChannelPanel(Channel &channel, const Widgets &widgets, const PanelContext &context)
    : QObject(context.window)
    , m_channel(channel)
    , m_widgets(widgets)
    , m_statusBar(context.statusBar)
    , m_boxes(context.boxes)
    , m_traffic(new TrafficView(widgets.view, context.layoutBudget))
    , m_counters(widgets.sentCount, widgets.receivedCount, *m_traffic)
    , m_history(new CommandHistory(widgets.command))
{
    setObjectName(channel.key() + QStringLiteral("Panel"));
    connect(&channel, &Channel::traffic, this, &ChannelPanel::show);
    connect(&channel, &Channel::cleared, m_traffic, &TrafficView::clear);
    // Shown with the traffic they count, in the view's own update.
    connect(&channel, &Channel::countsChanged, this, [this](int sent, int received) {
        m_counters.countsChanged({ sent, received });
    });
    connect(&channel, &Channel::commandSent, this, &ChannelPanel::onCommandSent);
    connect(&channel, &Channel::periodicSendChanged, this, &ChannelPanel::showPeriodicSend);
    connect(&channel, &Channel::linkStateChanged, this, &ChannelPanel::onLinkState);
    connect(&channel, &Channel::sendFailed, this, [this](const QString &reason) {
        showSendFailure(m_statusBar, m_channel.name(), reason);
    });
    connect(&channel, &Channel::logFailed, this,
            [this](const QString &fileName, const QString &reason) {
                m_statusBar->showMessage(
                    windowText("Log file error: %1: %2").arg(fileName, reason));
            });
    // The periodic send sends what the command line shows at each tick, at the period its box
    // shows.
    channel.setCommand(widgets.command->text());
    channel.setPeriod(widgets.period->value());
    connect(widgets.command, &QLineEdit::textChanged, &channel, &Channel::setCommand);
    connect(widgets.period, qOverload<int>(&QSpinBox::valueChanged), &channel, &Channel::setPeriod);
}

ChannelPanel::~ChannelPanel() = default;

void ChannelPanel::nameAccessibleControls(const QString &translatedName)
{
    auto named = [&](const char *text) { return windowText(text).arg(translatedName); };
    m_widgets.sentCount->setAccessibleName(named("%1 sent count"));
    m_widgets.receivedCount->setAccessibleName(named("%1 received count"));
    m_widgets.view->setAccessibleName(named("%1 traffic"));
    m_widgets.command->setAccessibleName(named("%1 command"));
    m_widgets.period->setAccessibleName(named("%1 period in milliseconds"));
}

void ChannelPanel::setColours(const QColor &input, const QColor &output)
{
    m_inputColour = input;
    m_outputColour = output;
}

void ChannelPanel::sendFromForm()
{
    if (!m_channel.linkOpen()) {
        refuseSend();
        return;
    }
    const QString text = m_widgets.command->text();
    if (text.isEmpty() && !m_channel.sendsEmptyCommand())
        return;
    if (m_channel.send(text))
        m_history->add(text);
}

void ChannelPanel::clearFromForm()
{
    m_channel.clear();
}

void ChannelPanel::setPeriodicSend(bool start)
{
    if (!m_channel.linkOpen()) {
        refusePeriodicSend();
        return;
    }
    if (start)
        m_channel.startPeriodicSend();
    else
        m_channel.stopPeriodicSend();
}

void ChannelPanel::tell(QMessageBox::Icon icon, const QString &title, const QString &text,
                        const QString &status, bool noted) const
{
    MessageBoxes::Note note;
    if (noted)
        note = [this](const QString &line) { m_channel.noteLine(line); };
    m_boxes.tell(icon, title, text, note, status);
}

void ChannelPanel::showArrivals()
{
    m_traffic->showSoon();
}

void ChannelPanel::show(const QString &text, TrafficKind kind)
{
    m_traffic->append(shownText(text), colourOf(kind));
}

QColor ChannelPanel::colourOf(TrafficKind kind) const
{
    // Resolved at each append, so that new text follows a palette changed on the way.
    const QPalette palette = m_widgets.view->palette();
    switch (kind) {
    case TrafficKind::Received:
        return colourInUse(m_inputColour, true, palette);
    case TrafficKind::Sent:
        return colourInUse(m_outputColour, false, palette);
    case TrafficKind::Muted:
        break;
    }
    return palette.color(QPalette::PlaceholderText);
}

void ChannelPanel::showPeriodicSend(bool running)
{
    m_widgets.timerButton->setChecked(running);
    m_widgets.timerButton->setText(running ? QStringLiteral("Stop") : QStringLiteral("Start"));
}

void ChannelPanel::onCommandSent(const QString &command, bool periodic)
{
    // A channel that works must not go on looking broken.
    clearSendFailure(m_statusBar, m_channel.name());
    if (periodic)
        m_history->add(command);
}

void ChannelPanel::onLinkState(LinkState state)
{
    const LinkState was = std::exchange(m_shownState, state);
    showLinkState(was);
}
