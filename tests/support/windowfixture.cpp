#include "windowfixture.h"

#include <QTest>

WindowFixture::WindowFixture(Start start, ChannelLog::Clock clock)
    : m_clock(std::move(clock))
{
    if (start == Start::Now)
        this->start();
}

WindowFixture::~WindowFixture()
{
    m_window.reset();
}

MainWindow &WindowFixture::start()
{
    m_window.emplace(nullptr, options, m_clock);
    m_root = &*m_window;
    dialogs.setScope(&*m_window);
    const char *keys[] = { "serial", "network1", "network2", "network3" };
    for (int i = 0; i < int(m_channels.size()); ++i) {
        m_channels[i] = widget<Channel>(QLatin1String(keys[i]) + QStringLiteral("Channel"));
        m_panels[i] = widget<ChannelPanel>(QLatin1String(keys[i]) + QStringLiteral("Panel"));
    }
    m_statusBar = widget<QStatusBar>(QStringLiteral("statusBar"));
    return *m_window;
}

bool WindowFixture::show()
{
    m_window->resize(1200, 900);
    m_window->show();
    return QTest::qWaitForWindowExposed(&*m_window);
}

QVariant WindowFixture::value(const QString &name) const
{
    const QObject *field = widget<QObject>(name);
    if (const auto *box = qobject_cast<const QComboBox *>(field))
        return box->currentIndex();
    if (const auto *box = qobject_cast<const QSpinBox *>(field))
        return box->value();
    if (const auto *edit = qobject_cast<const QLineEdit *>(field))
        return edit->text();
    return {};
}

QString WindowFixture::differences(const QVariantMap &expected) const
{
    QStringList found;
    for (auto it = expected.begin(); it != expected.end(); ++it)
        if (value(it.key()) != it.value())
            found << it.key() + ": " + value(it.key()).toString() + " != " + it.value().toString();
    return found.join(QStringLiteral("; "));
}

QVariantMap WindowFixture::firstRunValues()
{
    return { { "CB_BandRate", 0 },
             { "LE_IPAddress1", "192.168.1.100" },
             { "LE_Port1", "6001" },
             { "SB_SerialTimerSecond", 1000 },
             { "SB_Network1TimerSecond", 1000 },
             { "SB_Network2TimerSecond", 1000 },
             { "SB_Network3TimerSecond", 1000 } };
}

void WindowFixture::setTarget(const QString &port, const QString &address)
{
    widget<QLineEdit>(QStringLiteral("LE_IPAddress1"))->setText(address);
    widget<QLineEdit>(QStringLiteral("LE_Port1"))->setText(port);
}

void WindowFixture::selectSerialPort(const QString &path)
{
    auto *ports = widget<QComboBox>(QStringLiteral("CB_SerialPort"));
    ports->addItem(path.isEmpty() ? pty.slavePath() : path);
    ports->setCurrentIndex(ports->count() - 1);
}

void WindowFixture::setHexMode(int channel, bool hex)
{
    const ChannelPanel::Widgets &w = widgets(channel);
    (hex ? w.hex : w.ascii)->click();
}

void WindowFixture::send(int channel, const QString &command)
{
    commandLine(channel)->setText(command);
    sendButton(channel)->click();
}

void WindowFixture::startPeriodicSend(int channel, const QString &command, int periodMs)
{
    commandLine(channel)->setText(command);
    periodBox(channel)->setValue(periodMs);
    timerButton(channel)->click();
}

bool WindowFixture::connectTo(int channel, quint16 port)
{
    setTarget(QString::number(port));
    linkButton(channel)->click();
    // The window waits for the answer with its event loop running.
    (void)QTest::qWaitFor(
        [&] {
            return !linkButton(channel)->isChecked()
                || socket(channel)->state() == QAbstractSocket::ConnectedState;
        },
        15000);
    return linkButton(channel)->isChecked();
}

bool WindowFixture::openSerial()
{
    if (widget<QComboBox>(QStringLiteral("CB_SerialPort"))->currentText() != pty.slavePath())
        selectSerialPort();
    linkButton(serial)->click();
    return serialPort()->isOpen();
}
