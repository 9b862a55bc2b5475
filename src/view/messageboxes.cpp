#include "messageboxes.h"

#include <QApplication>
#include <QStatusBar>

#include <cstdio>

MessageBoxes::MessageBoxes(QWidget *window, QStatusBar *statusBar)
    : m_window(window)
    , m_statusBar(statusBar)
{
}

bool MessageBoxes::unattended() const
{
    return m_unattended || !qobject_cast<QApplication *>(QCoreApplication::instance());
}

void MessageBoxes::tell(QMessageBox::Icon icon, const QString &title, const QString &text,
                        const Note &note, const QString &status) const
{
    if (!unattended()) {
        QMessageBox box(icon, title, text, QMessageBox::Ok, m_window);
        box.exec();
        if (m_statusBar && !status.isEmpty())
            m_statusBar->showMessage(status);
        return;
    }
    const QString line = (status.isEmpty() ? title : status) + QStringLiteral(": ") + text;
    if (m_statusBar)
        m_statusBar->showMessage(line);
    if (note)
        note(QStringLiteral("--- %1: %2 ---").arg(title, text));
    // Whoever reads the run's output afterwards learns it even where no log could be written.
    std::fprintf(stderr, "teskmanager: %s\n", qPrintable(title + QStringLiteral(": ") + text));
    std::fflush(stderr);
}

QMessageBox::StandardButton MessageBoxes::ask(const QString &title, const QString &text,
                                              QMessageBox::StandardButtons buttons,
                                              QMessageBox::StandardButton defaultAnswer) const
{
    if (unattended())
        return defaultAnswer;
    QMessageBox question(QMessageBox::Question, title, text, buttons, m_window);
    question.setDefaultButton(defaultAnswer);
    question.setEscapeButton(defaultAnswer);
    return QMessageBox::StandardButton(question.exec());
}
