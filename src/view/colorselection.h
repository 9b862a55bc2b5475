#pragma once

#include "colours.h"

#include <QColor>
#include <QObject>

#include <array>

class ChannelPanel;
class QPushButton;
class QWidget;


// The four colour buttons of a window and the colours they pick: the serial channel's pair and
// the pair the three network channels share. Until the user picks one, a colour is the default
// of its direction under the view's palette, and the button shows it.
class ColourButtons : public QObject {
    Q_OBJECT

public:
    struct Buttons {
        QPushButton *serialInput;
        QPushButton *serialOutput;
        QPushButton *networkInput;
        QPushButton *networkOutput;
    };
    struct Panels {
        ChannelPanel *serial;
        std::array<ChannelPanel *, 3> network;
    };

    ColourButtons(const Buttons &buttons, const Panels &panels, QWidget *window);

    // Shows the colours in use on the buttons and hands them to the panels; again whenever the
    // palette changes.
    void show();
    // Lets the user pick the colour of this button in the colour dialog.
    void choose(QObject *button);

private:
    QColor *colourOf(const QObject *button);
    static void showOne(QPushButton *button, const QColor &colour, bool received,
                        const QPalette &palette);

    Buttons m_buttons;
    Panels m_panels;
    QWidget *m_window;
    // Invalid until the user picks one: the defaults follow the palette (colourInUse).
    QColor m_serialInput;
    QColor m_serialOutput;
    QColor m_networkInput;
    QColor m_networkOutput;
};
