#include "mainwindow.h"
#include "rendering.h"

#include "ui_mainwindow.h"

void MainWindow::appendSerialTraffic(QString text, const QColor &colour, bool lineBreak)
{
    Q_UNUSED(text)
    Q_UNUSED(colour)
    Q_UNUSED(lineBreak)
}

void MainWindow::appendNetworkTraffic(QTextEdit *view, QString text, const QColor &colour,
                                      bool lineBreak)
{
    Q_UNUSED(view)
    Q_UNUSED(text)
    Q_UNUSED(colour)
    Q_UNUSED(lineBreak)
}
