#pragma once

#include "traffictext.h"

#include <QColor>
#include <QString>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

// The format of the character at this position in the view.
inline QTextCharFormat formatAt(const QTextEdit *view, int position)
{
    QTextCursor cursor(view->document());
    cursor.setPosition(position + 1);
    return cursor.charFormat();
}

// The colour of the first character of text in the view.
inline QColor colourOf(const QTextEdit *view, const QString &text)
{
    return formatAt(view, view->toPlainText().indexOf(text)).foreground().color();
}

constexpr int maxDisplayLine = 4096 + 16; // a view's paragraph, display breaks included

// The view holds at most 100 paragraphs, none longer than a display line, and they are the end
// of what the log holds: the view only adds its own line breaks.
inline void verifyViewIsTailOfLog(const QTextEdit *view, const QString &log)
{
    const QTextDocument *document = view->document();
    QVERIFY2(document->blockCount() <= 100, qPrintable(QString::number(document->blockCount())));
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        QVERIFY2(block.length() - 1 <= maxDisplayLine, qPrintable(QString::number(block.length())));
    QString shown = view->toPlainText();
    shown.remove(QLatin1Char('\n'));
    QString logged = log;
    logged.remove(QLatin1Char('\n'));
    QVERIFY(!shown.isEmpty() || logged.isEmpty());
    QVERIFY2(
        logged.endsWith(shown),
        qPrintable(
            QStringLiteral("view tail %1 / log tail %2").arg(shown.right(40), logged.right(40))));
}
