// Device failures as the user sees them: every failure goes to the debug log, and the first of
// each kind (playback, capture, the microphone's volume control, a device lost) in a run is also
// shown, so a machine whose sound devices cannot be opened gets one box per kind instead of one
// per device and per window.
//
// Threads: any thread.
#pragma once
#include <string>

#include "protocol/texts.h"

// lost: a sound device that worked stopped during the run.
enum class device_kind { playback, capture, volume, lost };

// Logs the text (in English); shows it as a message too, in the user's language, when it is the
// first failure of its kind. Returns true when it was shown.
bool report_device_failure(device_kind kind, const user_text& text);
// A device's error code as the device boxes show it (hexadecimal).
std::string device_error_code(int rc);
// Whether a failure of this kind was shown in this run.
bool device_failure_shown(device_kind kind);
// Forgets what was shown (tests).
void reset_device_failure_reports();
