#include "settings.h"

#include "settingsformat.h"

#include <QSettings>

const std::vector<SettingKey> &settingKeys()
{
    using K = SettingKind;
    using W = SettingWriteBack;
    static const std::vector<SettingKey> keys = [] {
        std::vector<SettingKey> list = {
            { QStringLiteral("port"), K::Integer, {}, W::Window },
            { QStringLiteral("portname"), K::Text, QStringLiteral("COM1"), W::Window },
            { QStringLiteral("bandrate"), K::Integer, 0, W::Window },
            { QStringLiteral("serialtimermsecond"), K::Integer, 1000, W::Window },
            { QStringLiteral("networkipaddress"), K::Text, QStringLiteral("192.168.1.100"),
              W::Window },
            { QStringLiteral("networkport"), K::Text, QStringLiteral("6001"), W::Window },
        };
        for (int n = 1; n <= 3; ++n)
            list.push_back(
                { QStringLiteral("network%1timermsecond").arg(n), K::Integer, 1000, W::Window });
        // Beyond the form: what a bench may ask of every run.
        for (const char *channel : { "serial", "network1", "network2", "network3" })
            list.push_back(
                { QLatin1String(channel) + QStringLiteral("lineending"), K::Text, {}, W::File });
        for (const char *key : { "timestamps", "serialdtr", "serialrts", "reconnect" })
            list.push_back({ QLatin1String(key), K::Text, {}, W::File });
        list.push_back({ QStringLiteral("baudrate"), K::Text, {}, W::WindowIfInFile });
        return list;
    }();
    return keys;
}

void RunSettings::read(const QString &path)
{
    QSettings settings(path, QSettings::IniFormat);
    useUtf8Ini(settings);
    settings.beginGroup(QStringLiteral("Setup_Parameter"));
    m_raw.clear();
    m_usable.clear();
    for (const SettingKey &key : settingKeys()) {
        if (!settings.contains(key.name))
            continue;
        const QVariant value = settings.value(key.name);
        m_raw.insert(key.name, value);
        // A hand-edited or damaged file may hold a point or a list where text belongs; read as
        // text it would come back empty, which is no choice anybody made.
        if (key.kind == SettingKind::Integer || value.userType() == QMetaType::QString)
            m_usable.insert(key.name, value);
    }
}

QVariant RunSettings::value(const QString &key) const
{
    const auto found = m_usable.constFind(key);
    if (found != m_usable.constEnd())
        return *found;
    for (const SettingKey &k : settingKeys())
        if (k.name == key)
            return k.fallback;
    return {};
}

QString RunSettings::text(const QString &key) const
{
    return value(key).toString();
}

int RunSettings::integer(const QString &key) const
{
    return value(key).toInt();
}

void RunSettings::setForRun(const QString &key, const QVariant &runValue)
{
    m_run.insert(key, runValue);
}

QList<QPair<QString, QVariant>> RunSettings::toWrite(const QHash<QString, QVariant> &shown) const
{
    QList<QPair<QString, QVariant>> values;
    for (const SettingKey &key : settingKeys()) {
        const auto window = shown.constFind(key.name);
        const auto run = m_run.constFind(key.name);
        const bool inFile = m_raw.contains(key.name);
        // A value the window shows only because the command line put it there is this run's,
        // not the user's choice: the file keeps what it had.
        const bool runValueShown = run != m_run.constEnd()
            && (window == shown.constEnd() || window->toString() == run->toString());
        if (key.writeBack == SettingWriteBack::File || runValueShown) {
            if (inFile)
                values.append({ key.name, m_raw.value(key.name) });
        } else if (window != shown.constEnd()
                   && (key.writeBack == SettingWriteBack::Window || inFile)) {
            values.append({ key.name, *window });
        }
    }
    return values;
}
