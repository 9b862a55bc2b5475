#include "application.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QApplication>
#include <QIcon>
#include <QStringList>
#include <QWidget>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {
// Screen readers name the program after its accessible application object, which Qt names after
// the application name.
class DisplayNamedApplication : public QAccessibleApplication {
public:
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name ? QGuiApplication::applicationDisplayName()
                                      : QAccessibleApplication::text(t);
    }
};

QAccessibleInterface *displayNamedApplication(const QString &, QObject *object)
{
    return object == qApp ? new DisplayNamedApplication : nullptr;
}

void nameWindowsOnTheDesktop(QWidget *window)
{
    // X11 window managers tell programs apart by WM_CLASS, which Qt takes from the application
    // name when the first window is made; it must say what the desktop shows, not the name the
    // application goes by otherwise.
    const QString name = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QGuiApplication::applicationDisplayName());
    window->winId();
    QCoreApplication::setApplicationName(name);
}
} // namespace

void setUpHighDpi()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 does both by itself.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
#endif
}

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
    // What a desktop and a screen reader call the program; the settings do not depend on it.
    QGuiApplication::setApplicationDisplayName(QStringLiteral("TeskManager"));
    QGuiApplication::setDesktopFileName(QStringLiteral("teskmanager"));
    QAccessible::installFactory(displayNamedApplication);
    QIcon icon(QStringLiteral(":/Velmarin.ico"));
    // Window managers on dense screens ask for more than 32 pixels; this keeps the icon sharp.
    icon.addFile(QStringLiteral(":/teskmanager-256.png"));
    QApplication::setWindowIcon(icon);
}

void showMainWindow(QWidget *window, const QStringList &arguments)
{
    nameWindowsOnTheDesktop(window);
    // Qt gives the first window the size and place of -geometry when it is shown; maximizing
    // would throw them away.
    for (const QString &argument : arguments.mid(1)) {
        if (argument == QLatin1String("--"))
            break;
        const QString name = argument.startsWith(QLatin1String("--")) ? argument.mid(1) : argument;
        if (name == QLatin1String("-geometry") || name == QLatin1String("-qwindowgeometry")) {
            window->show();
            return;
        }
    }
    window->showMaximized();
}
