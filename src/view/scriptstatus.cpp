#include "scriptstatus.h"

#include "scriptrunner.h"

#include <QLabel>
#include <QStatusBar>

ScriptStatus::ScriptStatus(ScriptRunner &script, QStatusBar *statusBar)
    : QObject(statusBar)
    , m_script(script)
    , m_statusBar(statusBar)
    , m_label(new QLabel(statusBar))
{
    m_label->setObjectName(QStringLiteral("scriptStatus"));
    m_label->setAccessibleName(QStringLiteral("Script verdict"));
    statusBar->addPermanentWidget(m_label);
    connect(&script, &ScriptRunner::progressChanged, this, &ScriptStatus::show);
}

void ScriptStatus::show()
{
    const ScriptOutcome &outcome = m_script.outcome();
    const QString counts
        = QStringLiteral("%1 passed, %2 failed").arg(outcome.passed()).arg(outcome.failed());
    if (!m_script.ended())
        m_label->setText(QStringLiteral("Script running: %1").arg(counts));
    else if (outcome.error.isEmpty())
        m_label->setText(QStringLiteral("Script: %1").arg(counts));
    else
        m_label->setText(QStringLiteral("Script stopped on an error: %1").arg(counts));
    m_label->setToolTip(outcome.error);
    if (m_script.ended() && !outcome.error.isEmpty())
        m_statusBar->showMessage(QStringLiteral("Script error: %1").arg(outcome.error));
}
