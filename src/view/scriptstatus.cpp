#include "scriptstatus.h"

#include "scriptsuite.h"

#include <QLabel>
#include <QStatusBar>

ScriptStatus::ScriptStatus(ScriptSuite &scripts, QStatusBar *statusBar)
    : QObject(statusBar)
    , m_scripts(scripts)
    , m_statusBar(statusBar)
    , m_label(new QLabel(statusBar))
{
    m_label->setObjectName(QStringLiteral("scriptStatus"));
    m_label->setAccessibleName(QStringLiteral("Script verdict"));
    statusBar->addPermanentWidget(m_label);
    connect(&scripts, &ScriptSuite::progressChanged, this, &ScriptStatus::show);
}

void ScriptStatus::show()
{
    const RunOutcome outcome = m_scripts.outcome();
    const QString counts
        = QStringLiteral("%1 passed, %2 failed").arg(outcome.passed()).arg(outcome.failed());
    const QString error = m_scripts.lastError();
    if (!m_scripts.ended())
        m_label->setText(QStringLiteral("Script running: %1").arg(counts));
    else if (error.isEmpty())
        m_label->setText(QStringLiteral("Script: %1").arg(counts));
    else
        m_label->setText(QStringLiteral("Script stopped on an error: %1").arg(counts));
    m_label->setToolTip(error);
    if (m_scripts.ended() && !error.isEmpty())
        m_statusBar->showMessage(QStringLiteral("Script error: %1").arg(error));
}
