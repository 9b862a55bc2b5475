#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <QColorDialog>

void MainWindow::showColor(QPushButton *button, const QColor &colour)
{
    button->setText(colour.name());
    button->setStyleSheet(QStringLiteral("background-color:") + colour.name());
}

void MainWindow::setColor()
{
    auto *button = qobject_cast<QPushButton *>(sender());
    QColor *colour = button == ui->PB_SerialInputColor ? &serialInputColor
        : button == ui->PB_SerialOutputColor           ? &serialOutputColor
        : button == ui->PB_NetworkInputColor           ? &networkInputColor
        : button == ui->PB_NetworkOutputColor          ? &networkOutputColor
                                                       : nullptr;
    if (!colour)
        return;
    const QColor chosen = QColorDialog::getColor(*colour, this, QStringLiteral("Select Color"), {});
    if (!chosen.isValid())
        return;
    showColor(button, chosen);
    *colour = chosen;
}
