#include "platform/wakeup.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

Cwakeup::Cwakeup() : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Cwakeup::~Cwakeup() {
    if (m_fd >= 0) close(m_fd);
}

void Cwakeup::signal() {
    uint64_t one = 1;
    (void)!write(m_fd, &one, sizeof(one));
}

void Cwakeup::drain() {
    uint64_t count;
    (void)!read(m_fd, &count, sizeof(count));
}
