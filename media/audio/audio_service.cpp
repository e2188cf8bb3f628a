#include "media/audio/audio_service.h"

#include <alsa/asoundlib.h>

#include <cstdarg>
#include <cstdlib>
#include <memory>

#include "media/audio/sound_queue.h"
#include "media/audio/sound_threads.h"
#include "media/audio/voice_path.h"
#include "platform/debug_log.h"

namespace {
std::unique_ptr<audio_backend> g_backend;  // front end's thread only

// The sound library's complaints (a machine without a card has many) go to the debug log, not
// to the terminal.
__attribute__((format(printf, 5, 6))) void alsa_to_log(const char* file, int line,
                                                       const char* function, int err,
                                                       const char* fmt, ...) {
    char text[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof(text), fmt, ap);
    va_end(ap);
    log_line("ALSA %s:%d %s: %s (%d)\n", file, line, function, text, err);
}
}  // namespace

int start_audio(const audio_config& cfg) {
    if (g_backend) return 0;
    snd_lib_error_set_handler(alsa_to_log);
    sound_queue_init();
    register_voice_commands();
    if (const char* trace = std::getenv("PARLO_VOICE_TRACE")) set_voice_trace_file(trace);
    g_backend = make_audio_backend(cfg);
    log_line("sound backend %s\n", g_backend->name());
    int rc = start_sound_master_thread();
    start_players(*g_backend);
    if (start_capture(*g_backend, voice_capture_consumer) != 0) rc = -1;
    return rc;
}

void stop_audio() {
    if (!g_backend) return;
    stop_capture();
    stop_players();
    end_sound_threads();
    stop_sound_master_thread();
    set_voice_trace_file(nullptr);
    g_backend.reset();
}

std::vector<std::string> list_audio_devices(const audio_config& cfg) {
    snd_lib_error_set_handler(alsa_to_log);
    return make_audio_backend(cfg)->list_devices();
}
