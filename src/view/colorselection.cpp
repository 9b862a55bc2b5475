#include "colorselection.h"

#include "channelpanel.h"

#include <QColorDialog>
#include <QPalette>
#include <QPushButton>
#include <QTextEdit>


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
