#include "headlessrun.h"

#include "networkchannel.h"
#include "options.h"
#include "scriptsuite.h"
#include "serialchannel.h"
#include "session.h"
#include "settings.h"
#include "terminationsignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QSerialPortInfo>

#include <cstdio>

namespace {
void tell(const QString &line)
{
    std::fprintf(stderr, "teskmanager-run: %s\n", qPrintable(line));
}

// The port and line the window would open in the same folder: the command line's, else the
// saved one, else the first the system lists.
SerialSettings serialLine(const RunOptions &options, const RunSettings &file)
{
    QString port;
    if (!options.serialPorts.isEmpty())
        port = options.serialPorts.constFirst();
    else if (file.portName())
        port = *file.portName();
    else if (const auto found = QSerialPortInfo::availablePorts(); !found.isEmpty())
        port = found.constFirst().portName();
    qint32 rate = standardBaudRates[0];
    if (options.baudRate)
        rate = *options.baudRate;
    else if (file.bandRateIndex() >= 0 && file.bandRateIndex() < int(std::size(standardBaudRates)))
        rate = standardBaudRates[file.bandRateIndex()];
    return plainLine(port, rate);
}

// Everything a window would tell a person goes to standard error.
void tellFailures(Session &session)
{
    for (Channel *channel : session.channels()) {
        QObject::connect(channel, &Channel::logFailed, channel,
                         [](const QString &file, const QString &reason) {
                             tell(QStringLiteral("Log file error: %1: %2").arg(file, reason));
                         });
        QObject::connect(channel, &Channel::sendFailed, channel, [channel](const QString &why) {
            tell(QStringLiteral("Send failed on %1: %2").arg(channel->name(), why));
        });
    }
    SerialChannel *serial = &session.serial();
    QObject::connect(serial, &SerialChannel::errorOccurred, serial, [serial] {
        tell(serial->name() + QStringLiteral(": ") + serial->lastFailure());
    });
    for (int number = 1; number <= 3; ++number) {
        NetworkChannel *network = &session.network(number);
        QObject::connect(network, &NetworkChannel::errorOccurred, network, [network] {
            tell(network->name() + QStringLiteral(": ") + network->lastFailure());
        });
    }
}

void openAsTold(Session &session, const RunOptions &options, const QString &host, quint16 port)
{
    QString why;
    if (options.openSerial && !session.serial().openAtStart(&why))
        tell(QStringLiteral("Serial: %1: %2").arg(session.serial().lineSettings().portName, why));
    for (int number : options.connect)
        session.network(number).connectTo(host, port);
}
} // namespace

int runWithoutWindow(const RunOptions &options)
{
    RunSettings file;
    file.read(QDir::currentPath() + QStringLiteral("/demosettings.ini"));
    Session session;
    RunOptions merged = file.runOptions();
    merged.overrideWith(options);
    session.configure(merged);
    session.serial().setLineSettings(serialLine(options, file));
    const QString host = options.host.value_or(file.networkAddress());
    const QString port = options.port.value_or(file.networkPort());

    ScriptSuite *script = session.makeScripts(options);
    if (options.scriptsOnConsole)
        session.reportScriptsOnConsole();
    script->setDefaultPeer(host, port);
    session.configure(merged);
    tellFailures(session);
    // A folder named on the command line was checked with it; the one in the home is told here.
    const QString folder = options.logDir.isEmpty() ? ChannelLog::folderPath() : options.logDir;
    bool logsLost = false;
    if (const QString problem = logFolderProblem(folder); !problem.isEmpty()) {
        tell(QStringLiteral("The logs cannot be written: the folder %1 %2.")
                 .arg(QDir::toNativeSeparators(folder), problem));
        logsLost = true;
    } else {
        logsLost = !session.createLogs(folder);
    }

    // Queued: a script that ends before the event loop runs must still end it.
    QObject::connect(script, &ScriptSuite::finished, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    // A signal stops the script where it waits, as closing the window does.
    onTerminationSignals(
        [script] { script->interrupt(QStringLiteral("the run was stopped by a signal")); });
    openAsTold(session, options, host, portFromText(port));
    session.startScriptWhenLinksSettle();
    QCoreApplication::exec();
    session.shutDown(options.keepLogs.value_or(true));
    // Whatever the script found is not on record.
    return logsLost ? 3 : session.exitStatus();
}
