#include "application.h"
#include "commandline.h"
#include "mainwindow.h"

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
    MainWindow window(nullptr, commandLine.options);
    window.addSerialPorts(commandLine.serialPorts);
    showMainWindow(&window, arguments);
    return app.exec();
}
