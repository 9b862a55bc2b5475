// What a straightforward terminal does with a stream, to measure the program against.

#include "floods.h"

#include "encoding.h"
#include "rendering.h"
#include "testenvironment.h"

#include <QFile>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTextEdit>

#include <memory>

namespace {

// A plain shown QTextEdit keeping 100 paragraphs that inserts whatever is buffered at each
// arrival from its device, rendered as the program renders that channel, and writes the same
// text to a log.
struct NaiveView {
    NaiveView(QIODevice *device, bool hex, const QString &log, const QSize &size)
        : device(device)
        , serial(qobject_cast<QSerialPort *>(device))
        , hex(hex)
        , file(log)
    {
        view.document()->setMaximumBlockCount(100);
        view.resize(size);
        view.show();
        file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        QObject::connect(device, &QIODevice::readyRead, &view, [this] { take(); });
    }
    void take()
    {
        const QByteArray bytes = device->readAll();
        QString text = hex ? (serial ? serialHexRendering(bytes) : hexRendering(bytes))
                           : textRendering(bytes);
        if (serial)
            text = serialCleanup(std::move(text), false);
        else if (hex)
            text.append('\n');
        view.moveCursor(QTextCursor::End);
        view.insertPlainText(text);
        file.write(text.toUtf8());
        ++arrivals;
    }

    std::unique_ptr<QIODevice> device;
    bool serial;
    bool hex;
    QTextEdit view;
    QFile file;
    int arrivals = 0;
};

} // namespace

QJsonObject naiveFlood(const BenchOptions &o, int channels, bool hex, const QByteArray &payload)
{
    TestEnvironment env;
    Pty pty;
    FloodPeer peer(payload);
    std::vector<std::unique_ptr<NaiveView>> views;
    std::vector<FloodedLog> logs;
    for (int c = channels ? 1 : 0; c <= channels; ++c) {
        QIODevice *device;
        if (channels) {
            auto *socket = new QTcpSocket;
            socket->setReadBufferSize(o.naiveReadBuffer);
            socket->connectToHost(QHostAddress::LocalHost, peer.peer.port());
            device = socket;
        } else {
            auto *port = new QSerialPort(pty.slavePath());
            port->setReadBufferSize(o.naiveReadBuffer);
            port->open(QIODevice::ReadWrite);
            device = port;
        }
        const QString log = env.homePath() + QStringLiteral("/naive%1.txt").arg(c);
        views.push_back(std::make_unique<NaiveView>(device, hex, log, o.view));
        NaiveView *view = views.back().get();
        logs.push_back({ log, [view] { return view->arrivals; }, !channels });
        if (!QTest::qWaitForWindowExposed(&view->view, 5000)
            || (channels ? !peer.connected(c) : !device->isOpen()))
            return { { "error", "set-up failed" } };
    }
    return flood(o, &views.front()->view, logs, hex, payload,
                 [&] { peer.start(channels ? nullptr : &pty); });
}
