#include "channelfixture.h"

#include "console.h"
#include "seriallists.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

ChannelFixture::ChannelFixture(ChannelLog::Clock clock)
    : m_window(std::make_unique<QWidget>())
    , m_statusBar(new QStatusBar(m_window.get()))
{
    server.listen(QHostAddress::LocalHost);
    dialogs.setScope(m_window.get());
    const Channel::Context context { m_window.get(), m_statusBar, m_budget, clock };
    // Each channel on a panel of its own, so that its two mode buttons exclude only each other.
    auto *serialPanel = new QWidget(m_window.get());
    auto box = [serialPanel] { return new QComboBox(serialPanel); };
    const SerialChannel::LineWidgets line {
        box(), box(), box(), box(), box(), box(), new QPushButton(serialPanel)
    };
    line.port->addItem(pty.slavePath());
    fillSerialParameterLists(line);
    m_serial = new SerialChannel(makeWidgets(serialPanel, new Console(serialPanel)), line, context);
    auto *networkPanel = new QWidget(m_window.get());
    const NetworkChannel::LinkWidgets link { new QLineEdit(networkPanel),
                                             new QLineEdit(networkPanel),
                                             new QPushButton(networkPanel) };
    m_network = new NetworkChannel(1, makeWidgets(networkPanel, new QTextEdit(networkPanel)), link,
                                   context);
    for (Channel *channel : { static_cast<Channel *>(m_serial), static_cast<Channel *>(m_network) })
        channel->log().open(logPath(*channel));
    // The links' signals reach the channels as the window's slots pass them on.
    SerialChannel *serial = m_serial;
    NetworkChannel *network = m_network;
    QObject::connect(serial->quietTimer(), &QTimer::timeout, serial, &SerialChannel::endBlock);
    QObject::connect(serial->port(), &QSerialPort::errorOccurred, serial,
                     &SerialChannel::handleError);
    QObject::connect(network->socket(), &QTcpSocket::readyRead, network, &NetworkChannel::read);
    QObject::connect(network->socket(), &QTcpSocket::errorOccurred, network,
                     &NetworkChannel::reportError);
}

ChannelFixture::~ChannelFixture() = default;

Channel::Widgets ChannelFixture::makeWidgets(QWidget *panel, QTextEdit *view)
{
    auto *period = new QSpinBox(panel);
    period->setRange(100, 10000);
    auto *ascii = new QRadioButton(panel);
    ascii->setChecked(true);
    return { view,
             new QLineEdit(panel),
             new QPushButton(panel),
             new QPushButton(panel),
             new QPushButton(panel),
             period,
             new QLineEdit(panel),
             new QLineEdit(panel),
             ascii,
             new QRadioButton(panel) };
}

QString ChannelFixture::logPath(const Channel &channel) const
{
    return env.homePath() + QLatin1Char('/') + channel.key() + QStringLiteral(".txt");
}

bool ChannelFixture::openSerial()
{
    return m_serial->open();
}

QTcpSocket *ChannelFixture::connectNetwork()
{
    m_network->connectTo(QStringLiteral("127.0.0.1"), server.serverPort());
    if (!QTest::qWaitFor([this] { return m_network->linkState() != LinkState::Opening; }, 5000)
        || m_network->linkState() != LinkState::Open)
        return nullptr;
    if (!server.hasPendingConnections())
        server.waitForNewConnection(2000);
    m_writtenToPeer.clear();
    return m_peer = server.nextPendingConnection();
}

QByteArray ChannelFixture::written(const Channel &channel)
{
    if (&channel == m_serial)
        return m_writtenToDevice += pty.readAvailable();
    if (m_peer)
        m_writtenToPeer += m_peer->readAll();
    return m_writtenToPeer;
}

QString ChannelFixture::shown(Channel &channel) const
{
    channel.traffic().flush();
    return channel.widgets().view->toPlainText();
}

QByteArray ChannelFixture::log(const Channel &channel) const
{
    return fileContents(logPath(channel));
}
