#include "terminationsignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
int signalPipe[2] = { -1, -1 };

void writeSignal(int number)
{
    // Only async-signal-safe calls here: the GUI thread does the rest. The interrupted code may
    // be about to read errno.
    const int savedErrno = errno;
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

// Without the pipe or the handlers a signal ends the run at once, settings unsaved: said once.
void warnNoOrderlyExit(const char *call)
{
    std::fprintf(stderr,
                 "teskmanager: %s failed (%s): a termination signal will end the run "
                 "without saving the settings\n",
                 call, std::strerror(errno));
}
} // namespace

void onTerminationSignals(std::function<void()> handler)
{
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        warnNoOrderlyExit("pipe2");
        return;
    }
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
    for (int number : { SIGTERM, SIGINT, SIGHUP }) {
        if (sigaction(number, &action, nullptr) != 0) {
            warnNoOrderlyExit("sigaction");
            return;
        }
    }
}
