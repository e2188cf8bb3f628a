// The session controller's side of resuming a lost session: the back-off between attempts and the
// attempts themselves, which run on the server lane so that no front end thread waits on a connect.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <unistd.h>

#include "platform/debug_log.h"
#include "platform/tick.h"
#include "protocol/session.h"
#include "protocol/session_controller.h"

namespace {
constexpr uint32_t kResumeFirstDelayMs = 1000;
constexpr uint32_t kResumeMaxDelayMs = 60000;
// The lane of the actions on the main connection (as in session_controller.cpp): an attempt runs
// in order with sign-in and sign-out.
constexpr int kServerLane = 0;

bool reached(uint32_t now, uint32_t due) { return static_cast<int32_t>(now - due) >= 0; }
}  // namespace

uint32_t resume_delay_ms(int attempt, uint32_t random) {
    uint32_t base = kResumeFirstDelayMs;
    for (int i = 1; i < attempt && base < kResumeMaxDelayMs; i++) base *= 2;
    base = std::min(base, kResumeMaxDelayMs);
    return base - random % (base / 5 + 1);
}

user_text session_controller::session_lost(int why, uint32_t now) {
    // A loss starts the attempts once; a failed attempt puts off the next one. Anything else is a
    // report that came after the session ended or resumed.
    bool loss = why == 0 && m_resume.allowed && !m_resume.active;
    bool failed = why == 1 && m_resume.active;
    if (!loss && !failed) return {};
    if (loss) {
        m_resume.status = g_my_status.load();
        m_resume.away_by_user = m_away_by_user;
    }
    m_resume.active = true;
    m_resume.attempt++;
    // A small linear congruential step is jitter enough; the seed differs between processes.
    m_resume_random = m_resume_random * 1664525u + 1013904223u + static_cast<uint32_t>(getpid());
    m_resume.delay = resume_delay_ms(m_resume.attempt, m_resume_random >> 8);
    m_resume.due = now + m_resume.delay;
    log_line("session lost, attempt %d to sign in again in %u ms\r\n", m_resume.attempt,
             m_resume.delay);
    return make_text(TXT_CONNECTING);
}

void session_controller::end_resume(bool allowed) {
    m_resume = resume_state{};
    m_resume.allowed = allowed;
    m_resume_generation.fetch_add(1);
    m_resume_sent = false;
}

void session_controller::resume_tick(uint32_t now) {
    check_owner("resume_tick");
    if (!m_resume.active || m_shut_down || m_resume_busy.load() || !reached(now, m_resume.due))
        return;
    if (m_resume_sent.exchange(false)) {
        // The last attempt's login got no answer in time: it counts as failed, and the next
        // attempt drops its connection.
        log_line("no answer to the repeated login\r\n");
        m_resume.due = now + kResumeAnswerWaitMs;
        post_main(NM_CONNECTING, 1);
        return;
    }
    // Without an answer by then, the next attempt replaces this one.
    m_resume.due = now + std::max(m_resume.delay, kResumeAnswerWaitMs);
    uint32_t generation = m_resume_generation.load();
    m_resume_busy = true;
    int queued = m_lanes.run(kServerLane, [this, generation] {
        auto wanted = [this, generation] { return m_resume_generation.load() == generation; };
        int r = resume_session(wanted);
        m_resume_sent = r == 0;
        m_resume_busy = false;
        if (r < 0 && wanted()) post_main(NM_CONNECTING, 1);
    });
    if (queued != 0) m_resume_busy = false;
}

uint32_t session_controller::resume_due_in(uint32_t now) const {
    if (!m_resume.active) return UINT32_MAX;
    if (m_resume_busy.load()) return kResumeAnswerWaitMs;
    int32_t d = static_cast<int32_t>(m_resume.due - now);
    return d <= 0 ? 0u : static_cast<uint32_t>(d);
}
