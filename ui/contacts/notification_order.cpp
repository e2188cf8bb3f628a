#include "ui/contacts/notification_order.h"

void notification_order::pump(const std::function<int()>& drain) {
    // The running drain takes everything queued after its current handler returns.
    if (m_depth > 0) return;
    m_depth++;
    drain();
    m_depth--;
}
