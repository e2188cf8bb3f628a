// Plays the knock: sound/knock_door.wav below the program's directory (or the installed copy),
// asynchronously. The sound layer installs its player with set_knock_player (the application's
// own sound output); until one is set the knock is only logged. GUI thread only.
#pragma once
#include <QString>
#include <functional>

using knock_player = std::function<void(const QString& wav_path)>;
void set_knock_player(knock_player player);
// The file that is played (extracted from the program's resources when no copy is found).
QString knock_sound_path();
void play_knock_sound();
