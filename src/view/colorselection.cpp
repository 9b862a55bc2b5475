#include "colorselection.h"

#include "channelpanel.h"

#include <QColorDialog>
#include <QPalette>
#include <QPushButton>
#include <QTextEdit>

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

ColourButtons::ColourButtons(const Buttons &buttons, const Panels &panels, QWidget *window)
    : QObject(window)
    , m_buttons(buttons)
    , m_panels(panels)
    , m_window(window)
{
    setObjectName(QStringLiteral("colourButtons"));
}

QColor *ColourButtons::colourOf(const QObject *button)
{
    return button == m_buttons.serialInput  ? &m_serialInput
        : button == m_buttons.serialOutput  ? &m_serialOutput
        : button == m_buttons.networkInput  ? &m_networkInput
        : button == m_buttons.networkOutput ? &m_networkOutput
                                            : nullptr;
}

void ColourButtons::showOne(QPushButton *button, const QColor &colour, bool received,
                            const QPalette &palette)
{
    const QColor shown = colourInUse(colour, received, palette);
    button->setText(shown.name());
    button->setStyleSheet(QStringLiteral("background-color:") + shown.name());
    // The caption names the colour, but a screen reader reads the button by its accessible name.
    button->setAccessibleDescription(shown.name());
}

void ColourButtons::show()
{
    const QPalette serialPalette = m_panels.serial->widgets().view->palette();
    const QPalette networkPalette = m_panels.network.front()->widgets().view->palette();
    showOne(m_buttons.serialInput, m_serialInput, true, serialPalette);
    showOne(m_buttons.serialOutput, m_serialOutput, false, serialPalette);
    showOne(m_buttons.networkInput, m_networkInput, true, networkPalette);
    showOne(m_buttons.networkOutput, m_networkOutput, false, networkPalette);
    // The panels resolve the colours at each append, so that new text follows the palette.
    m_panels.serial->setColours(m_serialInput, m_serialOutput);
    for (ChannelPanel *panel : m_panels.network)
        panel->setColours(m_networkInput, m_networkOutput);
}

void ColourButtons::choose(QObject *button)
{
    QColor *colour = colourOf(button);
    if (!colour)
        return;
    const QColor chosen = QColorDialog::getColor(QColor(static_cast<QPushButton *>(button)->text()),
                                                 m_window, QStringLiteral("Select Color"), {});
    if (!chosen.isValid())
        return;
    *colour = chosen;
    show();
}
