#include "messageboxes.h"

#include "channel.h"

#include <QMessageBox>
#include <QStatusBar>

#include <cstdio>

MessageBoxes::MessageBoxes(QWidget *window, QStatusBar *statusBar)
    : QObject(window)
    , m_window(window)
    , m_statusBar(statusBar)
{
    setObjectName(QStringLiteral("messageBoxes"));
}

void MessageBoxes::tell(Kind kind, const QString &title, const QString &text, Channel *about)
{
    if (m_unattended) {
        if (m_statusBar)
            m_statusBar->showMessage(title + QStringLiteral(": ") + text);
        if (about)
            about->noteLine(QStringLiteral("--- %1: %2 ---").arg(title, text));
        std::fprintf(stderr, "teskmanager: %s: %s\n", qPrintable(title), qPrintable(text));
        emit toldUnattended(title, text);
        return;
    }
    switch (kind) {
    case Kind::Critical:
        QMessageBox::critical(m_window, title, text, QMessageBox::Ok);
        break;
    case Kind::Information:
        QMessageBox::information(m_window, title, text);
        break;
    case Kind::Warning:
        QMessageBox::warning(m_window, title, text);
        break;
    }
}

bool MessageBoxes::askKeepLogs()
{
    // Return, Escape and the window's close button all keep them.
    QMessageBox question(QMessageBox::Question, QStringLiteral("TeskManager"),
                         QStringLiteral("Do you want to save log file into your Documents "
                                        "directory?"),
                         QMessageBox::Yes | QMessageBox::No, m_window);
    question.setDefaultButton(QMessageBox::Yes);
    question.setEscapeButton(QMessageBox::Yes);
    return question.exec() != QMessageBox::No;
}
