#include "commandline.h"

#include "version.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

// The options that QApplication reads from the same command line. They are declared so that
// they pass without complaint, values included, and hidden so that the help stays ours.
const char qtOptionsWithValue[]
    = "platform platformpluginpath platformtheme plugin qwindowgeometry qwindowicon qwindowtitle "
      "geometry icon title display name visual session style stylesheet qmljsdebugger";
const char qtSwitches[] = "reverse nograb dograb testability widgetcount qdevel qdebug";

const char epilogue[] = R"(
Qt's own options, such as -platform, -style, -stylesheet or -reverse, work
as usual.

Files:
  ~/Documents/TeskManager/<date>_<time>-serial.txt, -network1.txt, -network2.txt,
  -network3.txt
      What each channel showed in one run.
  demosettings.ini
      The settings, in the directory TeskManager is started from.
)";

// QCommandLineParser::helpText() names the program after QCoreApplication::arguments() and
// crashes without an application object; a core application needs no display.
QString helpText(const QCommandLineParser &parser)
{
    if (QCoreApplication::instance())
        return parser.helpText() + QLatin1String(epilogue);
    int argc = 1;
    char name[] = "teskmanager";
    char *argv[] = { name, nullptr };
    const QCoreApplication application(argc, argv);
    return parser.helpText() + QLatin1String(epilogue);
}

CommandLine exitWith(int code, const QString &text)
{
    CommandLine result;
    result.exitCode = code;
    result.text = text;
    return result;
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    // Qt's options have a single dash and a word: -platform, not -p -l -a ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Exercises devices over a serial line and over TCP: one window, four channels\n"
        "(one serial port and three TCP clients)."));
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") },
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({ QStringLiteral("v"), QStringLiteral("version") },
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption serialPort(
        QStringList { QStringLiteral("serial-port") },
        QStringLiteral("Add <path> to the serial ports; the first is selected."),
        QStringLiteral("path"));
    parser.addOptions({ help, version, serialPort });
    for (const char *names : { qtOptionsWithValue, qtSwitches }) {
        for (const QString &name : QString::fromLatin1(names).split(QLatin1Char(' '))) {
            QCommandLineOption option(name);
            if (names == qtOptionsWithValue)
                option.setValueName(QStringLiteral("value"));
            option.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(option);
        }
    }

    if (!parser.parse(arguments))
        return exitWith(2, parser.errorText() + QLatin1Char('\n') + helpText(parser));
    if (!parser.positionalArguments().isEmpty()) {
        const QString text = QStringLiteral("Unexpected argument '%1'.\n")
                                 .arg(parser.positionalArguments().constFirst());
        return exitWith(2, text + helpText(parser));
    }
    if (parser.isSet(help))
        return exitWith(0, helpText(parser));
    if (parser.isSet(version))
        return exitWith(0,
                        QStringLiteral("TeskManager %1\n").arg(QLatin1String(teskManagerVersion)));

    CommandLine result;
    result.serialPorts = parser.values(serialPort);
    if (result.serialPorts.contains(QString()))
        return exitWith(
            2, QStringLiteral("Missing value after '--serial-port'.\n") + helpText(parser));
    return result;
}
