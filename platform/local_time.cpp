#include "platform/local_time.h"

#include <sys/time.h>
#include <time.h>

local_time get_local_time() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tm_now;
    time_t secs = tv.tv_sec;
    localtime_r(&secs, &tm_now);
    return local_time{tm_now.tm_mday, tm_now.tm_hour, tm_now.tm_min, tm_now.tm_sec,
                      static_cast<int>(tv.tv_usec / 1000)};
}
