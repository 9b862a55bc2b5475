#include "application.h"

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

void setUpApplication()
{
#ifdef __GLIBC__
    // A flood passes megabytes through short-lived buffers. By default glibc raises its mmap
    // threshold after the first such buffer is freed, and from then on keeps them on the heap,
    // where the memory stays with the process long after the flood; a fixed threshold gives it
    // back as each buffer goes.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
    QCoreApplication::setOrganizationName(QStringLiteral("ORTAVE"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("ortave.example.org"));
    QCoreApplication::setApplicationName(QStringLiteral("Test Application"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/Velmarin.ico")));
}

namespace {
int signalPipe[2] = { -1, -1 };

void writeSignal(int number)
{
    // Only async-signal-safe calls here: the GUI thread does the rest.
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}
} // namespace

void onTerminationSignals(std::function<void()> handler)
{
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [handler = std::move(handler)] {
                         char bytes[16];
                         while (::read(signalPipe[0], bytes, sizeof bytes) > 0) { }
                         handler();
                     });
    struct sigaction action { };
    action.sa_handler = writeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : { SIGTERM, SIGINT, SIGHUP })
        sigaction(number, &action, nullptr);
}
