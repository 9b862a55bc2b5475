#include "testenvironment.h"

#include <QDir>
#include <QFile>

TestEnvironment::TestEnvironment()
    : m_oldHome(qgetenv("HOME"))
    , m_oldWorkPath(QDir::currentPath())
{
    QDir(m_dir.path()).mkpath(QStringLiteral("home"));
    QDir(m_dir.path()).mkpath(QStringLiteral("work"));
    qputenv("HOME", homePath().toLocal8Bit());
    QDir::setCurrent(workPath());
}

TestEnvironment::~TestEnvironment()
{
    QDir::setCurrent(m_oldWorkPath);
    qputenv("HOME", m_oldHome);
}

QString TestEnvironment::homePath() const
{
    return m_dir.path() + QStringLiteral("/home");
}

QString TestEnvironment::workPath() const
{
    return m_dir.path() + QStringLiteral("/work");
}

QString TestEnvironment::logDirPath() const
{
    return homePath() + QStringLiteral("/Documents/TeskManager");
}

QString TestEnvironment::settingsPath() const
{
    return workPath() + QStringLiteral("/demosettings.ini");
}

QStringList TestEnvironment::logFiles() const
{
    return QDir(logDirPath()).entryList(QDir::Files, QDir::Name);
}

QByteArray TestEnvironment::logContents(const QString &suffix) const
{
    const QStringList serialLogs
        = QDir(logDirPath()).entryList({ QStringLiteral("*-serial.txt") }, QDir::Files, QDir::Name);
    if (serialLogs.isEmpty())
        return {};
    QString name = serialLogs.last();
    name.chop(int(qstrlen("-serial.txt")));
    QFile file(logDirPath() + QLatin1Char('/') + name + suffix);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}
