#include "settings.h"

#include "settingsformat.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

namespace {
const QString settingsGroup = QStringLiteral("Setup_Parameter");

// Only a plain file, or none yet, is a settings file. A named pipe in its place would block the
// program in the open until some writer comes along, and a folder cannot be written over.
bool usableSettingsPath(const QString &path)
{
    const QFileInfo file(path);
    return !file.exists() || file.isFile();
}

// QSettings does not say why its write failed. Saving a file of about that size the same way (a
// new file beside it, never committed) meets the same refusal and does say why: the folder
// cannot be written, the disk is full, a size limit is reached. Only a second attempt at what a
// write left over yields the reason, hence the loop.
QString settingsWriteProblem(const QString &path)
{
    QSaveFile probe(path);
    if (!probe.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return probe.errorString();
    const QByteArray filler(int(qMax<qint64>(QFileInfo(path).size(), 4096)), ' ');
    QString reason = QCoreApplication::translate("MainWindow", "the file could not be written");
    for (qint64 done = 0; done < filler.size();) {
        const qint64 written = probe.write(filler.constData() + done, filler.size() - done);
        if (written <= 0) {
            reason = probe.errorString();
            break;
        }
        done += written;
    }
    probe.cancelWriting();
    return reason;
}
} // namespace

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
    m_raw.clear();
    m_usable.clear();
    // Settings on no file at all give every default.
    if (path.isEmpty() || !usableSettingsPath(path))
        return;
    QSettings settings(path, QSettings::IniFormat);
    useUtf8Ini(settings);
    settings.beginGroup(settingsGroup);
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

std::optional<QString> RunSettings::portName() const
{
    const QString name = text(QStringLiteral("portname"));
    if (!contains(QStringLiteral("portname")) || name.isEmpty())
        return std::nullopt;
    return name;
}

RunOptions RunSettings::runOptions() const
{
    RunOptions options;
    const char *const channels[] = { "serial", "network1", "network2", "network3" };
    for (int i = 0; i < channelCount; ++i)
        options.lineEndings[size_t(i)]
            = lineEndingFromText(text(QLatin1String(channels[i]) + QStringLiteral("lineending")));
    options.timestamps = timestampsFromText(text(QStringLiteral("timestamps")));
    options.dtr = switchFromText(text(QStringLiteral("serialdtr")));
    options.rts = switchFromText(text(QStringLiteral("serialrts")));
    options.baudRate = baudRateFromText(text(QStringLiteral("baudrate")));
    options.reconnect = wordFromText<bool>(text(QStringLiteral("reconnect")),
                                           { { "true", true }, { "false", false } });
    return options;
}

bool RunSettings::write(const QString &path, const QHash<QString, QVariant> &shown,
                        QString *why) const
{
    if (!usableSettingsPath(path)) {
        *why = QCoreApplication::translate("MainWindow", "it is not a plain file");
        return false;
    }
    const QList<QPair<QString, QVariant>> values = toWrite(shown);
    const QDateTime modifiedBefore = QFileInfo(path).lastModified();
    QSettings settings(path, QSettings::IniFormat);
    useUtf8Ini(settings);
    settings.beginGroup(settingsGroup);
    for (const auto &[key, value] : values)
        settings.setValue(key, value);
    settings.endGroup();
    settings.sync();
    // A damaged file reports its damage first and then nothing more, not even a failed write;
    // then only an untouched file tells that the write failed.
    const QFileInfo after(path);
    const bool failed = settings.status() == QSettings::AccessError || !after.exists()
        || (settings.status() == QSettings::FormatError && after.lastModified() == modifiedBefore);
    if (failed)
        *why = settingsWriteProblem(path);
    return !failed;
}
