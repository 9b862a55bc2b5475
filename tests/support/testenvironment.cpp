#include "testenvironment.h"

#include <QDir>
#include <QFile>

const QStringList TestEnvironment::logSuffixes { QStringLiteral("-serial.txt"),
                                                 QStringLiteral("-network1.txt"),
                                                 QStringLiteral("-network2.txt"),
                                                 QStringLiteral("-network3.txt") };

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

QString TestEnvironment::logPath(const QString &suffix) const
{
    const QStringList serialLogs
        = QDir(logDirPath()).entryList({ QStringLiteral("*-serial.txt") }, QDir::Files, QDir::Name);
    if (serialLogs.isEmpty())
        return {};
    return logDirPath() + QLatin1Char('/') + serialLogs.last().chopped(int(qstrlen("-serial.txt")))
        + suffix;
}

QStringList TestEnvironment::runFiles(const QString &stamp)
{
    QStringList names;
    for (const QString &suffix : logSuffixes)
        names << stamp + suffix;
    names.sort();
    return names;
}

bool writeFile(const QString &path, const QByteArray &contents, QIODevice::OpenMode mode)
{
    QFile file(path);
    return file.open(mode) && file.write(contents) == contents.size();
}

QByteArray fileContents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
