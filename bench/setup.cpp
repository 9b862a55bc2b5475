#include "setup.h"

#include "testdata.h"
#include "windowfixture.h"

#include <QTest>

const QStringList floodSections { "tcp-ascii-1", "tcp-ascii-3",  "tcp-hex-1",
                                  "tcp-hex-3",   "serial-ascii", "serial-hex" };

void settle(const BenchOptions &o, int ms)
{
    QTest::qWait(o.smoke ? ms / 10 : ms);
}

bool showWindow(QWidget *window, bool x)
{
    window->resize(1920, 1080);
    x ? window->showMaximized() : window->show();
    return QTest::qWaitForWindowExposed(window, 5000);
}

bool setUp(WindowFixture &fixture, const BenchOptions &o, bool openSerial)
{
    return showWindow(&fixture.window(), o.x) && (!openSerial || fixture.open(serial));
}

QByteArray textPayload(qint64 size, quint32 seed)
{
    return plainText(int(size), seed, plainAlphabet + plainAlphabet + '\n');
}

const char *verdict(bool intact, bool complete)
{
    return !intact ? "ALTERED" : complete ? "exact" : "prefix";
}
