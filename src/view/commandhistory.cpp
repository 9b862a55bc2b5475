#include "commandhistory.h"

#include <QKeyEvent>
#include <QLineEdit>

CommandHistory::CommandHistory(QLineEdit *line)
    : QObject(line)
    , m_line(line)
{
    line->installEventFilter(this);
}

void CommandHistory::add(const QString &command)
{
    // A periodic send repeats its command: it neither fills the history nor moves the walk.
    if (!m_commands.isEmpty() && m_commands.constFirst() == command)
        return;
    m_at = -1;
    m_commands.prepend(command);
    if (m_commands.size() > maxCommands)
        m_commands.removeLast();
}

bool CommandHistory::eventFilter(QObject *, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->modifiers() & ~Qt::KeypadModifier)
        return false;
    if (key->key() == Qt::Key_Up)
        step(+1);
    else if (key->key() == Qt::Key_Down)
        step(-1);
    else
        return false;
    return true;
}

void CommandHistory::step(int by)
{
    const int to = qBound(-1, m_at + by, int(m_commands.size()) - 1);
    if (to == m_at)
        return;
    if (m_at == -1)
        m_draft = m_line->text();
    m_at = to;
    m_line->setText(m_at == -1 ? m_draft : m_commands.at(m_at));
}
