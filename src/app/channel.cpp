#include "channel.h"

#include "sendstatus.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTextEdit>
#include <QTimer>

namespace {
template<class T> T *part(const QWidget *form, const QString &pattern, const QString &name)
{
    const QString objectName = pattern.arg(name);
    T *child = form->findChild<T *>(objectName);
    if (!child)
        qFatal("The form holds no %s", qPrintable(objectName));
    return child;
}
} // namespace

Channel::Widgets Channel::findWidgets(const QWidget *form, const QString &viewName,
                                      const QString &name)
{
    return { part<QTextEdit>(form, QStringLiteral("TE_%1"), viewName),
             part<QLineEdit>(form, QStringLiteral("LE_%1Cmd"), viewName),
             part<QPushButton>(form, QStringLiteral("PB_Send%1"), viewName),
             part<QPushButton>(form, QStringLiteral("PB_Clear%1"), viewName),
             part<QPushButton>(form, QStringLiteral("PB_%1TimerStart"), name),
             part<QSpinBox>(form, QStringLiteral("SB_%1TimerSecond"), name),
             part<QLineEdit>(form, QStringLiteral("LE_%1SentCount"), name),
             part<QLineEdit>(form, QStringLiteral("LE_%1RecvCount"), name),
             part<QRadioButton>(form, QStringLiteral("RB_%1Ascii"), name),
             part<QRadioButton>(form, QStringLiteral("RB_%1Hex"), name) };
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
    const QByteArray bytes = encodeCommand(text, m_hexMode, &problem);
    // A command that cannot be sent whole, or a write that fails, never left: it is neither
    // counted nor shown.
    if (problem.isEmpty())
        writeToLink(bytes, &problem);
    if (!problem.isEmpty()) {
        failSend(problem);
        return;
    }
    clearSendFailure(m_statusBar, m_name);
    m_counters.countSend();
    appendTraffic(text, m_outputColour, true);
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

void Channel::stopPeriodicSend()
{
    m_sendTimer->stop();
    m_widgets.timerButton->setChecked(false);
    m_widgets.timerButton->setText(QStringLiteral("Start"));
}

void Channel::appendTraffic(QString text, const QColor &colour, bool lineBreak)
{
    if (lineBreak)
        text.append(QLatin1Char('\n'));
    m_traffic->append(text, colour);
}

void Channel::appendReceived(const QByteArray &bytes)
{
    appendTraffic(m_hexMode ? hexText(bytes) : m_receivedText.render(bytes), m_inputColour, false);
    m_counters.countArrival();
}

void Channel::showIncompleteText()
{
    const QString rest = m_receivedText.takeIncomplete();
    if (!rest.isEmpty())
        appendTraffic(rest, m_inputColour, false);
}
