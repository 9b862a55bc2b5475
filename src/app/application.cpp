#include "application.h"

#include <QApplication>
#include <QIcon>

#ifdef __GLIBC__
#include <malloc.h>
#endif

void setUpApplication()
{
#ifdef __GLIBC__
    // A flood passes megabytes through short-lived buffers. By default glibc raises its mmap
    // threshold after the first such buffer is freed, and from then on keeps them on the heap,
    // where the memory stays with the process long after the flood; a fixed threshold gives it
    // back as each buffer goes. Smaller buffers come and go from the top of the heap; giving
    // that back to the system at each free and taking it again at the next allocation costs
    // more than the flood's rendering, so up to a few megabytes of it stay.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    mallopt(M_TRIM_THRESHOLD, 4 * 1024 * 1024);
#endif
    QCoreApplication::setOrganizationName(QStringLiteral("ORTAVE"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("ortave.example.org"));
    QCoreApplication::setApplicationName(QStringLiteral("Test Application"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/Velmarin.ico")));
}
