#pragma once

struct local_time {
    int day;     // day of the month, 1-31
    int hour;    // 0-23
    int minute;  // 0-59
    int second;  // 0-59
    int millisecond;
};

// The current local wall-clock time.
local_time get_local_time();
