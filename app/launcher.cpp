#include "app/launcher.h"

namespace lumo {

const char* const launcherTitle = "lumo 2013";

// The drop-down is decoration: nothing ever reads its selection.
const char* const launcherGpuEntries[6] = {
    "idle", "away", "hiatus", "resting", "vacation", "stone cold chillin'",
};

bool launcherProcedure(LauncherResults& results, LauncherView& view, LauncherMessage message,
                       LauncherControl control) {
    switch (message) {
    case LauncherMessage::Initialise:
        for (const char* entry : launcherGpuEntries) {
            view.addListEntry(LauncherControl::GpuList, entry);
        }
        view.selectListEntry(LauncherControl::GpuList, 0);
        return false;
    case LauncherMessage::Command:
        if (control == LauncherControl::Demo) {
            results.startRequested = true;
            view.sendClose();
            return true;
        }
        if (control == LauncherControl::Cancel) {
            view.sendClose();
            return true;
        }
        return false;
    case LauncherMessage::Close:
        results.fullScreen = view.checkState(LauncherControl::FullScreen) > 0;
        results.force720p = view.checkState(LauncherControl::Force720p) > 0;
        results.nativeResolution = view.checkState(LauncherControl::NativeResolution) > 0;
        view.destroy();
        return true;
    case LauncherMessage::Destroy:
        view.postQuit(0);
        return true;
    }
    return false;
}

} // namespace lumo
