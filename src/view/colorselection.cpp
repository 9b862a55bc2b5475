#include "colorselection.h"

#include "mainwindow.h"
#include "networkchannel.h"
#include "serialchannel.h"
#include "ui_mainwindow.h"

#include <QColorDialog>
#include <QEvent>
#include <QPalette>

#include <cmath>

namespace {

double luminance(const QColor &colour)
{
    auto linear = [](double channel) {
        return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF())
        + 0.0722 * linear(colour.blueF());
}

} // namespace

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor colourInUse(const QColor &picked, bool received, const QPalette &palette)
{
    if (picked.isValid())
        return picked;
    const QColor text = palette.color(QPalette::Text);
    if (received)
        return text;
    // Pure red passes 3:1 on most dark bases and still glares there; on a dark base it is made
    // lighter until it reads as easily as body text, elsewhere only as dark as 3:1 needs.
    const QColor base = palette.color(QPalette::Base);
    const bool dark = luminance(base) < luminance(text);
    const double wanted = dark ? 4.5 : 3.0;
    QColor red(Qt::red);
    for (int step = 1; step <= 25 && contrastRatio(red, base) < wanted; ++step)
        red = QColor::fromHslF(0.0, 1.0, dark ? 0.5 + step * 0.02 : 0.5 - step * 0.02);
    return red;
}

void MainWindow::showColor(QPushButton *button, const QColor &colour)
{
    const bool received = button == ui->PB_SerialInputColor || button == ui->PB_NetworkInputColor;
    const bool serial = button == ui->PB_SerialInputColor || button == ui->PB_SerialOutputColor;
    const QColor shown
        = colourInUse(colour, received, (serial ? ui->TE_SerialPort : ui->TE_Network1)->palette());
    button->setText(shown.name());
    button->setStyleSheet(QStringLiteral("background-color:") + shown.name());
    // The caption names the colour, but a screen reader reads the button by its accessible name.
    button->setAccessibleDescription(shown.name());
}

void MainWindow::changeEvent(QEvent *event)
{
    // The default colours follow the desktop's palette, and so do the buttons that show them.
    if (event->type() == QEvent::PaletteChange && ui)
        showColors();
    QMainWindow::changeEvent(event);
}

void MainWindow::showColors()
{
    showColor(ui->PB_SerialInputColor, serialInputColor);
    showColor(ui->PB_SerialOutputColor, serialOutputColor);
    showColor(ui->PB_NetworkInputColor, networkInputColor);
    showColor(ui->PB_NetworkOutputColor, networkOutputColor);
    // The channels resolve the colours at each append, so that new text follows the palette.
    if (serialChannel)
        serialChannel->setColours(serialInputColor, serialOutputColor);
    for (Channel *channel : networkChannels)
        if (channel)
            channel->setColours(networkInputColor, networkOutputColor);
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
    const QColor chosen
        = QColorDialog::getColor(QColor(button->text()), this, QStringLiteral("Select Color"), {});
    if (!chosen.isValid())
        return;
    *colour = chosen;
    showColors();
}
