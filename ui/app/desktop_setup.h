// The desktop application's windows beyond the main window: the contact tree and dialogs, the
// chat windows and their media controls over the sound and video layers. The program and the
// end-to-end tests install them the same way.
#pragma once

class CParloApp;

// Installs the contact windows, the chat windows and sound and video into app's main window
// when it starts, and stops sound and video when it shuts down. Call before app.run()/start().
void install_desktop_windows(CParloApp& app);
// After the application shut down: the chat windows go.
void remove_desktop_windows();
