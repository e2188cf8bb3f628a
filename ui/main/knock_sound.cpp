#include "ui/main/knock_sound.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include "platform/debug_log.h"
#include "platform/paths.h"

namespace {
knock_player g_player;

void play_with_desktop_player(const QString& path) {
    for (const char* program : {"paplay", "aplay"}) {
        QString exe = QStandardPaths::findExecutable(QLatin1String(program));
        if (exe.isEmpty()) continue;
        QStringList args;
        if (QLatin1String(program) == QLatin1String("aplay")) args << QStringLiteral("-q");
        args << path;
        if (QProcess::startDetached(exe, args)) return;
    }
    log_line("no sound player for the knock: %s\r\n", path.toLocal8Bit().constData());
}
}  // namespace

void set_knock_player(knock_player player) {
    g_player = std::move(player);
}

QString knock_sound_path() {
    char dir[256] = "";
    if (program_directory(dir) == 0) {
        QString beside = QString::fromLocal8Bit(dir) + QStringLiteral("sound/knock_door.wav");
        if (QFileInfo::exists(beside)) return beside;
        QString installed =
            QString::fromLocal8Bit(dir) + QStringLiteral("../share/parlo/sound/knock_door.wav");
        if (QFileInfo::exists(installed)) return QDir::cleanPath(installed);
    }
    QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (cache.isEmpty()) cache = QDir::tempPath();
    QDir().mkpath(cache);
    QString copy = cache + QStringLiteral("/knock_door.wav");
    if (!QFileInfo::exists(copy)) QFile::copy(QStringLiteral(":/sound/knock_door.wav"), copy);
    return copy;
}

void play_knock_sound() {
    QString path = knock_sound_path();
    if (g_player)
        g_player(path);
    else
        play_with_desktop_player(path);
}
