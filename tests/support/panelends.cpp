#include "panelends.h"

#include "trafficview.h"

QPushButton *PanelEnds::linkButton(int channel) const
{
    return channel == serial ? serialPanel().lineWidgets().openButton
                             : networkPanel(channel).linkWidgets().connectButton;
}

QString PanelEnds::periodicSend(int channel) const
{
    QStringList state { timerButton(channel)->text() };
    if (timerButton(channel)->isChecked())
        state << QStringLiteral("checked");
    if (sendTimer(channel)->isActive())
        state << QStringLiteral("running");
    return state.join(QLatin1Char(' '));
}

namespace {
int number(const QLineEdit *field)
{
    bool ok = false;
    const int value = field->text().toInt(&ok);
    return ok ? value : -1;
}
} // namespace

int PanelEnds::sent(int channel) const
{
    panel(channel).trafficView().catchUp();
    return sentNow(channel);
}

int PanelEnds::received(int channel) const
{
    panel(channel).trafficView().catchUp();
    return receivedNow(channel);
}

int PanelEnds::sentNow(int channel) const
{
    return number(widgets(channel).sentCount);
}

int PanelEnds::receivedNow(int channel) const
{
    return number(widgets(channel).receivedCount);
}

QTextEdit *PanelEnds::view(int channel) const
{
    panel(channel).trafficView().catchUp();
    return widgets(channel).view;
}
