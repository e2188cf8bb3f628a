#include "peer/peer_service.h"

#include "peer/peer_socket.h"
#include "platform/thread.h"
#include "protocol/peer_dispatch.h"

namespace {
class peer_layer : public peer_dispatch {
public:
    // 381: the peer asked through its server to be connected to.
    int connect_to_peer(int peer_id, const char* address) override {
        if (!address || address[0] == '\0') return -1;
        return ::connect_to_peer(peer_id, address);
    }
    void start_contact_text_chat(int contact_id) override {
        m_jobs.start([contact_id] { OnContactTextChat(contact_id); });
    }
    void wait_jobs() { m_jobs.wait(15000); }

private:
    Cjob_group m_jobs;
};

peer_layer g_peer_layer;
}  // namespace

int start_peer_networking(bool listen) {
    set_peer_dispatch(&g_peer_layer);
    return start_peer_service(listen);
}

void stop_peer_networking() {
    set_peer_dispatch(nullptr);
    g_peer_layer.wait_jobs();
    stop_peer_service();
}
