#pragma once
// The launcher dialog's behaviour, apart from any toolkit: the three results,
// the controls and the rules for closing. A view (GTK in launcher_gtk.cpp, a
// fake in the tests) turns its toolkit's events into launcherProcedure calls and
// carries out what the procedure asks of it through LauncherView.
//
// Closing the dialog in any way records the check boxes; only the "demo" button
// also records that the demo should start.

namespace lumo {

struct LauncherResults {
    bool startRequested = false;   // "demo" was pressed
    bool fullScreen = false;       // "full screen" was ticked when the dialog closed
    bool force720p = false;        // "force 720p" was ticked when the dialog closed
    bool nativeResolution = false; // "native resolution" was ticked when the dialog closed
};

// The dialog's controls by their resource ids.
enum class LauncherControl : int {
    None = 0,
    Demo = 1,   // the default push button
    Cancel = 2, // what Escape sends
    FullScreen = 1002,
    GpuList = 1003,
    Force720p = 1004,
    NativeResolution = 1005,
};

enum class LauncherMessage {
    Initialise, // the dialog's controls exist, before it is shown
    Command,    // a control (or Escape, as LauncherControl::Cancel) was activated
    Close,      // close asked for: title-bar button, or sent by the procedure
    Destroy,    // the dialog is gone
};

// What the procedure needs from the dialog.
class LauncherView {
public:
    virtual ~LauncherView() = default;
    virtual void addListEntry(LauncherControl control, const char* text) = 0;
    virtual void selectListEntry(LauncherControl control, int index) = 0;
    // Queues a Close message for the dialog.
    virtual void sendClose() = 0;
    // The check state of a check box: greater than 0 means ticked.
    virtual int checkState(LauncherControl control) = 0;
    // Destroys the dialog; a Destroy message follows.
    virtual void destroy() = 0;
    // Ends the launcher's event loop with the given code.
    virtual void postQuit(int code) = 0;
};

extern const char* const launcherTitle;
extern const char* const launcherGpuEntries[6];

// Handles one message; control is the command's control id (ignored otherwise).
// Returns true when the message was handled.
bool launcherProcedure(LauncherResults& results, LauncherView& view, LauncherMessage message,
                       LauncherControl control = LauncherControl::None);

} // namespace lumo
