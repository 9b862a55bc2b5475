#include "mainwindow.h"
#include "rendering.h"

#include "ui_mainwindow.h"

#include <QScrollBar>
#include <QTextBlock>

namespace {

// Inserts at the view's cursor in the given colour and normal weight, leaves the view's own
// format as it was (so text the user types is not coloured as traffic) and scrolls to the end.
void insertTraffic(QTextEdit *view, const QString &text, const QColor &colour)
{
    const int weight = view->fontWeight();
    const QColor previousColour = view->textColor();
    const QTextCursor cursor = view->textCursor();
    QString shown = withDisplayBreaks(text, cursor.block().length() - 1);

    // A large arrival at the end would push out everything the view holds and most of itself;
    // laying out text that is dropped at once only stalls the window. The view ends up with the
    // same paragraphs either way.
    // The old paragraphs are replaced in the same edit rather than cleared first: an empty view
    // in between would drop its scroll bar and lay everything out again when it comes back.
    const int maxBlocks = view->document()->maximumBlockCount();
    if (maxBlocks > 0 && cursor.atEnd()) {
        if (const int tail = survivingTailStart(shown, maxBlocks)) {
            QTextCursor all(view->document());
            all.select(QTextCursor::Document);
            view->setTextCursor(all);
            shown.remove(0, tail);
        }
    }

    view->setFontWeight(QFont::Normal);
    view->setTextColor(colour);
    view->insertPlainText(shown);
    view->setFontWeight(weight);
    view->setTextColor(previousColour);
    QScrollBar *bar = view->verticalScrollBar();
    bar->setValue(bar->maximum());
}

} // namespace

void MainWindow::appendSerialTraffic(QString text, const QColor &colour, bool lineBreak)
{
    text = serialCleanup(std::move(text), lineBreak);
    insertTraffic(ui->TE_SerialPort, text, colour);
    writeChannelLog(serialLogFile, text);
}

void MainWindow::appendNetworkTraffic(QTextEdit *view, QString text, const QColor &colour,
                                      bool lineBreak)
{
    if (lineBreak)
        text.append(QLatin1Char('\n'));
    insertTraffic(view, text, colour);
    QFile *log = view == ui->TE_Network1 ? network1LogFile
        : view == ui->TE_Network2        ? network2LogFile
        : view == ui->TE_Network3        ? network3LogFile
                                         : nullptr;
    writeChannelLog(log, text);
}
