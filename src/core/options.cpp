#include "options.h"

#include "atomicwrite.h"

#include <cstring>

#include <QFile>

OptionsRecord DefaultOptions()
{
    OptionsRecord options;
    std::memset(&options, 0, sizeof options);
    options.PauseMovieOnBar = 1;
    options.AutoStart = 1;
    options.XPStyle = 1;
    options.ShortcutBarEnabled = 1;
    options.HangingWindowVisible = 1;
    options.PreviewEnabled = 1;
    return options;
}

OptionsLoad LoadOptions(const QString& path, OptionsRecord& options)
{
    QFile file(path);
    if (!file.exists()) {
        options = DefaultOptions();
        return OptionsLoad::Missing;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        options = DefaultOptions();
        return OptionsLoad::Failed;
    }
    std::memset(&options, 0, sizeof options);
    const qint64 read = file.read(reinterpret_cast<char*>(&options), sizeof options);
    if (read < 0) {
        options = DefaultOptions();
        return OptionsLoad::Failed;
    }
    return read == static_cast<qint64>(sizeof options) ? OptionsLoad::Loaded : OptionsLoad::Short;
}

bool SaveOptions(const QString& path, const OptionsRecord& options, QString* error)
{
    return WriteFileAtomically(
        path, {QByteArrayView(reinterpret_cast<const char*>(&options), sizeof options)}, error);
}
