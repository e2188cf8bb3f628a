// Sound cards and cameras that are plugged in or out while the program runs: a thread of its
// own reads the kernel's device events (through libudev) and, once a burst of them has settled,
// calls audio_devices_changed() (audio_service.h), which re-tries the chosen sound devices and
// tells the devices dialog.
//
// Threads: start and stop from the front end's thread; stop returns after the thread ended.
#pragma once

// 0, or -1 when the events cannot be read here (no udev: the lists are then read again only
// when the dialog opens).
int start_device_watch();
void stop_device_watch();
