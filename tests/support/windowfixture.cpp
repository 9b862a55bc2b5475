#include "windowfixture.h"

#include <QSignalSpy>
#include <QTest>

WindowFixture::WindowFixture(Start start, ChannelLog::Clock clock)
    : m_clock(std::move(clock))
{
    server.listen(QHostAddress::LocalHost);
    if (start == Start::Now)
        this->start();
}

MainWindow &WindowFixture::start()
{
    m_window.emplace(nullptr, options, m_clock);
    dialogs.setScope(&*m_window);
    return *m_window;
}

bool WindowFixture::show()
{
    m_window->resize(1200, 900);
    m_window->show();
    return QTest::qWaitForWindowExposed(&*m_window);
}

QTimer *WindowFixture::sendTimer(int channel) const
{
    return widget<QTimer>(channel == serial ? QStringLiteral("serialSendTimer")
                                            : QStringLiteral("network%1SendTimer").arg(channel));
}

QString WindowFixture::periodicSend(int channel) const
{
    QStringList state { timerButton(channel)->text() };
    if (timerButton(channel)->isChecked())
        state << QStringLiteral("checked");
    if (sendTimer(channel)->isActive())
        state << QStringLiteral("running");
    return state.join(QLatin1Char(' '));
}

int WindowFixture::number(const QLineEdit *field)
{
    bool ok = false;
    const int value = field->text().toInt(&ok);
    return ok ? value : -1;
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

QTcpSocket *WindowFixture::connectNetwork(int channel)
{
    m_written[channel].clear();
    return m_peers[channel] = connectTo(channel, server.serverPort()) ? nextPeer() : nullptr;
}

QTcpSocket *WindowFixture::nextPeer()
{
    if (!server.hasPendingConnections())
        server.waitForNewConnection(2000);
    return server.nextPendingConnection();
}

void WindowFixture::selectSerialPort(const QString &path)
{
    auto *ports = widget<QComboBox>(QStringLiteral("CB_SerialPort"));
    ports->addItem(path.isEmpty() ? pty.slavePath() : path);
    ports->setCurrentIndex(ports->count() - 1);
}

bool WindowFixture::open(int channel, bool hex)
{
    setHexMode(channel, hex);
    if (channel != serial)
        return connectNetwork(channel);
    if (widget<QComboBox>(QStringLiteral("CB_SerialPort"))->currentText() != pty.slavePath())
        selectSerialPort();
    linkButton(serial)->click();
    return serialPort()->isOpen();
}

bool WindowFixture::deliver(int channel, const QByteArray &bytes)
{
    if (channel == serial)
        return pty.write(bytes);
    return peer(channel) && peer(channel)->write(bytes) == bytes.size();
}

QByteArray WindowFixture::written(int channel)
{
    if (channel == serial)
        m_written[channel] += pty.readAvailable();
    else if (peer(channel))
        m_written[channel] += peer(channel)->readAll();
    return m_written[channel];
}

void WindowFixture::send(int channel, const QString &command) const
{
    commandLine(channel)->setText(command);
    sendButton(channel)->click();
}

void WindowFixture::startPeriodicSend(int channel, const QString &command, int periodMs) const
{
    commandLine(channel)->setText(command);
    periodBox(channel)->setValue(periodMs);
    timerButton(channel)->click();
}

bool WindowFixture::collect(const QByteArray &bytes)
{
    // The line is never judged quiet while the test collects.
    pollTimer()->setInterval(24 * 3600 * 1000);
    QSignalSpy arrivals(serialPort(), &QIODevice::readyRead);
    return pty.write(bytes) && QTest::qWaitFor([&] {
               return arrivals.count() > 0 && serialPort()->bytesAvailable() == 0;
           });
}

void WindowFixture::resumePolling() const
{
    pollTimer()->setInterval(10);
    pollTimer()->start();
}

quint16 WindowFixture::unusedPort()
{
    QTcpServer taken;
    taken.listen(QHostAddress::LocalHost);
    return taken.serverPort();
}
