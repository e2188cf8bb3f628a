#include "protocol/housekeeping.h"

#include "protocol/commands.h"
#include "protocol/proxy.h"
#include "protocol/peer_dispatch.h"
#include "protocol/requests.h"
#include "protocol/server_link.h"
#include "protocol/session.h"
#include "protocol/session_controller.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {
// True once now has reached due (unsigned difference, safe across the 32-bit wrap).
bool reached(uint32_t now, uint32_t due) { return static_cast<int32_t>(now - due) >= 0; }

// Moves a repeating timer on by one period; after a long stall it restarts from now instead of
// firing many times in a row.
void advance(uint32_t& next, uint32_t period, uint32_t now) {
    next += period;
    if (reached(now, next)) next = now + period;
}

std::string main_local_address() {
    if (proxy_everything()) return "";  // see send_local_address
    std::string address = g_main_link.local_address_text();
    if (address.size() > static_cast<size_t>(kLocalAddressChars)) address.resize(kLocalAddressChars);
    return address;
}
}  // namespace

housekeeping::housekeeping(session_controller& controller, input_idle_source* idle)
    : m_controller(controller), m_idle(idle) {
    m_controller.attach_housekeeping(this);
}

void housekeeping::start(uint32_t now) {
    m_started = true;
    m_next_tick = now + kHousekeepingPeriodMs;
    m_next_online_query = now + kOnlineQueryPeriodMs;
    m_next_offline_check = now + kOfflineCheckPeriodMs;
}

void housekeeping::tick(uint32_t now) {
    if (!m_started) start(now);
    m_controller.resume_tick(now);
    // While a lost session is being resumed there is no server to talk to: the duties wait for it.
    bool resuming = m_controller.resuming();
    if (resuming) {
        if (reached(now, m_next_tick)) {
            advance(m_next_tick, kHousekeepingPeriodMs, now);
            m_controller.report_undelivered_lines(now);
        }
        if (reached(now, m_next_online_query)) advance(m_next_online_query, kOnlineQueryPeriodMs, now);
        if (reached(now, m_next_offline_check)) advance(m_next_offline_check, kOfflineCheckPeriodMs, now);
        m_status_armed = false;
        return;
    }
    if (reached(now, m_next_tick)) {
        advance(m_next_tick, kHousekeepingPeriodMs, now);
        on_housekeeping_tick(now);
        m_controller.report_undelivered_lines(now);
    }
    if (reached(now, m_next_online_query)) {
        advance(m_next_online_query, kOnlineQueryPeriodMs, now);
        start_retrieving_pass();
    }
    if (reached(now, m_next_offline_check)) {
        advance(m_next_offline_check, kOfflineCheckPeriodMs, now);
        request_offline_check();
    }
    if (m_status_armed && reached(now, m_status_due)) {
        m_status_armed = false;
        on_status_timer();
    }
}

uint32_t housekeeping::ms_until_due(uint32_t now) const {
    if (!m_started) return 0;
    auto left = [now](uint32_t due) {
        int32_t d = static_cast<int32_t>(due - now);
        return d <= 0 ? 0u : static_cast<uint32_t>(d);
    };
    uint32_t ms = left(m_next_tick);
    ms = std::min(ms, left(m_next_online_query));
    ms = std::min(ms, left(m_next_offline_check));
    if (m_status_armed) ms = std::min(ms, left(m_status_due));
    ms = std::min(ms, m_controller.resume_due_in(now));
    return ms;
}

void housekeeping::arm_status_timer(uint32_t now) {
    if (m_status_armed) return;
    m_status_armed = true;
    m_status_due = now + kStatusBroadcastDelayMs;
}

void housekeeping::on_housekeeping_tick(uint32_t now) {
    m_tick_count++;
    send_keep_alive();
    static const int kRelayCommands[3] = {CMD_RELAY_PORT_80, CMD_RELAY_PORT_443,
                                          CMD_RELAY_PORT_8199};
    static const int kRelayDefaults[3] = {80, 443, 8199};
    for (int slot = 0; slot < 3; slot++)
        if (peer().relay_port_listening(slot) && !relay_acked(slot)) {
            // A relay on another port than the usual one names it in board_num (0 otherwise),
            // so that the server checks the port that really listens.
            int port = peer().relay_port(slot);
            int board = port > 0 && port != kRelayDefaults[slot] ? port : 0;
            if (board > 9999) continue;  // the 4-digit board_num cannot carry it; never confirmed
            if (board == 0) {
                general_command_to_server(kRelayCommands[slot]);
            } else {
                general_str_command_with_board_to_socket(kRelayCommands[slot], board, "", &g_main_link);
                g_recv_event.signal();
            }
        }
    if (speed_test_due(now, m_tick_count)) start_speed_test(now);
    if (m_tick_count % 2 == 0) {
        char body[16];
        std::snprintf(body, sizeof(body), "%12d", peer().relay_connection_count());
        general_str_command_to_server(CMD_RELAY_CONNECTIONS, body);
        std::snprintf(body, sizeof(body), "%12d", peer().relay_traffic_sum());
        general_str_command_to_server(CMD_RELAY_TRAFFIC, body);
    }
    // The route exchange runs on the first tick and on every fifth after it.
    if (m_tick_count % 5 == 1) peer().fifth_tick_duty();
    if (!peer().slave_server_known()) general_command_to_server(CMD_SLAVE_SERVER_REQUEST);
    auto_away(now);
}

void housekeeping::auto_away(uint32_t now) {
    if (!m_idle) return;
    uint32_t idle = now - m_idle->last_input_tick();
    int status = g_my_status.load();
    if (idle < kAutoAwayIdleMs) {
        if (status == PS_AWAY && !m_controller.away_by_user())
            m_controller.request_my_status(PS_ONLINE, false);
    } else if (status == PS_ONLINE) {
        m_controller.request_my_status(PS_AWAY, false);
    }
}

void housekeeping::on_status_timer() {
    start_sending_status_pass(g_my_status.load(), main_local_address().c_str());
}

void housekeeping::broadcast_offline() {
    g_my_status = PS_OFFLINE;
    on_status_timer();
}
