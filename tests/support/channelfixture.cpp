#include "channelfixture.h"

#include "console.h"
#include "seriallists.h"

#include <QDir>
#include <QHBoxLayout>
#include <QTest>
#include <QVBoxLayout>

namespace {
QPushButton *checkable(QPushButton *button, const char *caption)
{
    button->setCheckable(true);
    button->setText(QLatin1String(caption));
    return button;
}
} // namespace

ChannelFixture::ChannelFixture(ChannelLog::Clock clock)
    : m_window(std::make_unique<QWidget>())
    , m_session(new Session(std::move(clock), m_window.get()))
{
    m_root = m_window.get();
    m_statusBar = new QStatusBar(m_window.get());
    m_statusBar->setObjectName(QStringLiteral("statusBar"));
    m_boxes = std::make_unique<MessageBoxes>(m_window.get(), m_statusBar);
    dialogs.setScope(m_window.get());
    const PanelContext context { m_window.get(), m_statusBar, m_budget, *m_boxes };
    // Each channel on a panel of its own, so that its two mode buttons exclude only each other.
    auto *panels = new QHBoxLayout(m_window.get());
    auto panel = [panels] {
        auto *widget = new QWidget;
        panels->addWidget(widget);
        new QVBoxLayout(widget);
        return widget;
    };
    QWidget *serialPanel = panel();
    auto box = [serialPanel] { return new QComboBox(serialPanel); };
    const SerialPanel::LineWidgets line {
        box(), box(), box(), box(), box(), box(), checkable(new QPushButton(serialPanel), "Open")
    };
    line.port->addItem(pty.slavePath());
    fillSerialParameterLists(line);
    auto *console = new Console(serialPanel);
    m_channels[::serial] = &m_session->serial();
    m_panels[::serial]
        = new SerialPanel(m_session->serial(), makeWidgets(serialPanel, console), line, context);
    m_address = new QLineEdit(m_window.get());
    m_port = new QLineEdit(m_window.get());
    for (int number = 1; number <= 3; ++number) {
        QWidget *networkPanel = panel();
        auto *view = new QTextEdit(networkPanel);
        // As the window sets its network views up: records of the traffic.
        view->document()->setMaximumBlockCount(100);
        view->setReadOnly(true);
        view->setTabChangesFocus(true);
        m_channels[number] = &m_session->network(number);
        m_panels[number] = new NetworkPanel(
            m_session->network(number), makeWidgets(networkPanel, view),
            { m_address, m_port, checkable(new QPushButton(networkPanel), "Connect") }, context);
    }
    QDir().mkpath(env.logDirPath());
    for (int i = 0; i < int(m_channels.size()); ++i)
        channel(i).log().open(env.logDirPath() + QStringLiteral("/run")
                              + TestEnvironment::logSuffixes[i]);
    QObject::connect(console, &Console::getData, &m_session->serial(), &SerialChannel::writeKeys);
    wire();
}

void ChannelFixture::wire()
{
    // What the window's slots pass on from the channels to their panels.
    QObject::connect(&m_session->serial(), &SerialChannel::errorOccurred, &serialPanel(),
                     &SerialPanel::reportError);
    for (int number = 1; number <= 3; ++number)
        QObject::connect(&m_session->network(number), &NetworkChannel::errorOccurred,
                         &networkPanel(number), &NetworkPanel::reportError);
    for (int i = 0; i < 4; ++i)
        QObject::connect(m_channels[i], &Channel::arrived, m_panels[i],
                         &ChannelPanel::showArrivals);
}

ChannelFixture::~ChannelFixture()
{
    m_window.reset();
}

ChannelPanel::Widgets ChannelFixture::makeWidgets(QWidget *panel, QTextEdit *view)
{
    auto *period = new QSpinBox(panel);
    period->setRange(100, 10000);
    period->setSingleStep(100);
    period->setValue(1000);
    auto *ascii = new QRadioButton(panel);
    ascii->setChecked(true);
    const ChannelPanel::Widgets widgets { view,
                                          new QLineEdit(panel),
                                          new QPushButton(panel),
                                          new QPushButton(panel),
                                          checkable(new QPushButton(panel), "Start"),
                                          period,
                                          new QLineEdit(panel),
                                          new QLineEdit(panel),
                                          ascii,
                                          new QRadioButton(panel) };
    for (QObject *child : panel->children())
        if (auto *widget = qobject_cast<QWidget *>(child))
            panel->layout()->addWidget(widget);
    return widgets;
}

int ChannelFixture::indexOf(const Channel &channel) const
{
    return int(std::find(m_channels.begin(), m_channels.end(), &channel) - m_channels.begin());
}

bool ChannelFixture::show()
{
    m_window->resize(1200, 900);
    m_window->show();
    return QTest::qWaitForWindowExposed(m_window.get());
}

void ChannelFixture::setTarget(const QString &port, const QString &address)
{
    m_address->setText(address);
    m_port->setText(port);
}

void ChannelFixture::selectSerialPort(const QString &path)
{
    QComboBox *ports = serialPanel().lineWidgets().port;
    ports->addItem(path);
    ports->setCurrentIndex(ports->count() - 1);
}

void ChannelFixture::press(int channel, Button button)
{
    ChannelPanel &c = panel(channel);
    QPushButton *pressed = button == Button::Send ? sendButton(channel)
        : button == Button::Clear                 ? clearButton(channel)
        : button == Button::Timer                 ? timerButton(channel)
                                                  : linkButton(channel);
    if (pressed->isCheckable())
        pressed->toggle();
    switch (button) {
    case Button::Send:
        c.sendFromForm();
        break;
    case Button::Clear:
        c.clearFromForm();
        break;
    case Button::Timer:
        c.setPeriodicSend(pressed->isChecked());
        break;
    case Button::Link:
        if (channel == ::serial)
            serialPanel().openOrClose(pressed->isChecked());
        else
            networkPanel(channel).connectLink(pressed->isChecked());
        break;
    }
}

void ChannelFixture::setHexMode(int channel, bool hex)
{
    const ChannelPanel::Widgets &w = widgets(channel);
    (hex ? w.hex : w.ascii)->setChecked(true);
    panel(channel).setMode(hex ? 1 : 0);
}

void ChannelFixture::send(int channel, const QString &command)
{
    commandLine(channel)->setText(command);
    press(channel, Button::Send);
}

void ChannelFixture::startPeriodicSend(int channel, const QString &command, int periodMs)
{
    commandLine(channel)->setText(command);
    periodBox(channel)->setValue(periodMs);
    press(channel, Button::Timer);
}

bool ChannelFixture::connectTo(int channel, quint16 port)
{
    NetworkChannel &network = this->network(channel);
    network.connectTo(QStringLiteral("127.0.0.1"), port);
    return QTest::qWaitFor([&] { return network.linkState() != LinkState::Opening; }, 15000)
        && network.linkState() == LinkState::Open;
}

bool ChannelFixture::openSerial()
{
    return serial().open();
}
