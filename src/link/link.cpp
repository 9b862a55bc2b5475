#include "link.h"

#include <QElapsedTimer>
#include <QIODevice>

#include <poll.h>

namespace {
bool inputWaiting(qintptr descriptor)
{
    pollfd watched { int(descriptor), POLLIN, 0 };
    return descriptor >= 0 && ::poll(&watched, 1, 0) > 0 && (watched.revents & POLLIN);
}
} // namespace

void settleDevice(QIODevice *device, qintptr descriptor)
{
    if (!device->isOpen())
        return;
    if (inputWaiting(descriptor))
        device->waitForReadyRead(0);
    // A peer or device that takes nothing does not hold the program for long.
    constexpr int patienceMs = 500;
    QElapsedTimer clock;
    clock.start();
    while (device->isOpen() && device->bytesToWrite() > 0 && clock.elapsed() < patienceMs
           && device->waitForBytesWritten(int(patienceMs - clock.elapsed()))) { }
}
