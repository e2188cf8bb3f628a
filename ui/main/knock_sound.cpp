#include "ui/main/knock_sound.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "platform/debug_log.h"
#include "platform/paths.h"

namespace {
knock_player g_player;

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
        log_line("no sound output for the knock: %s\r\n", path.toLocal8Bit().constData());
}
