#include "application.h"
#include "commandline.h"
#include "mainwindow.h"
#include "terminationsignals.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine commandLine = parseCommandLine(arguments);
    if (commandLine.exitCode) {
        std::fputs(commandLine.text.toLocal8Bit().constData(),
                   *commandLine.exitCode == 0 ? stdout : stderr);
        return *commandLine.exitCode;
    }

    setUpHighDpi();
    QApplication app(argc, argv);
    setUpApplication();
    // Taken from here on; one that comes while the window is being built is acted on once the
    // event loop runs.
    MainWindow *running = nullptr;
    onTerminationSignals([&running] { running->closeUnattended(); });
    MainWindow window(nullptr, commandLine.options);
    running = &window;
    showMainWindow(&window, arguments);
    const int status = app.exec();
    return status ? status : window.exitStatus();
}
