// The periodic duties of the session, in one place, driven by a tick that the GUI's timer and the
// headless client's loop both call with the current time:
//  - every 5 s: keep-alive 1000, the relay announcements 420-422 until acknowledged, the speed
//    test, 452 and 451 on every second tick, the fifth-tick peer duty, 460 while no slave server
//    is known, then the automatic Away check;
//  - every 120 s: the online queries; every 30 min: 340;
//  - 5 s after a status request: the status broadcast (one-shot, not re-armed while pending);
//  - while the controller resumes a lost session: its attempts, and none of the duties above
//    except the report of chat lines that got no echo.
//
// Threads: the housekeeping belongs to its controller's owner thread (the front end's); start,
// tick, arm_status_timer and broadcast_offline run there and nowhere else. The duties send short
// requests on connections that exist or start jobs for the per-server passes, and wait for no
// answer; the one wait left on this thread is the keep-alive's reconnect of a main connection
// that closed. A front end's event loop sleeps until a notification arrives (the dispatcher's
// wake-up) or ms_until_due() passed, whichever comes first, instead of polling.
#pragma once
#include <cstdint>

class session_controller;

// Where the time of the user's last input comes from (the UI's idle time; the headless client
// counts its own commands).
struct input_idle_source {
    virtual ~input_idle_source() = default;
    virtual uint32_t last_input_tick() = 0;
};

class housekeeping {
public:
    housekeeping(session_controller& controller, input_idle_source* idle);

    // Starts the repeating timers from now.
    void start(uint32_t now);
    // Runs every duty whose time has come.
    void tick(uint32_t now);
    // Milliseconds from now until the next duty is due (0 when one is due or before start).
    uint32_t ms_until_due(uint32_t now) const;

    void arm_status_timer(uint32_t now);
    bool status_timer_armed() const { return m_status_armed; }
    uint32_t housekeeping_ticks() const { return m_tick_count; }

    // Program exit: state 0 to every home server (the caller waits for the threads).
    void broadcast_offline();

private:
    void on_housekeeping_tick(uint32_t now);
    void auto_away(uint32_t now);
    void on_status_timer();

    session_controller& m_controller;
    input_idle_source* m_idle;
    bool m_started = false;
    uint32_t m_next_tick = 0;
    uint32_t m_next_online_query = 0;
    uint32_t m_next_offline_check = 0;
    bool m_status_armed = false;
    uint32_t m_status_due = 0;
    uint32_t m_tick_count = 0;
};
