// Device failures as the user sees them: every failure goes to the debug log, and the first of
// each kind (playback, capture, the microphone's volume control) in a run is also shown, so a
// machine whose sound devices cannot be opened gets one box per kind instead of one per device
// and per window.
//
// Threads: any thread.
#pragma once

enum class device_kind { playback, capture, volume };

// Logs the text; shows it as a message too when it is the first failure of its kind. Returns
// true when it was shown.
bool report_device_failure(device_kind kind, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// Whether a failure of this kind was shown in this run.
bool device_failure_shown(device_kind kind);
// Forgets what was shown (tests).
void reset_device_failure_reports();
