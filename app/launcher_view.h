#pragma once
// The launcher dialog on screen (GTK 3). Its behaviour is launcher.h's.

#include "app/launcher.h"

#include <string>

namespace lumo {

// Shows the dialog and runs its event loop until the dialog is gone. Returns
// false, with a one-line reason, when there is no display to show it on.
bool runLauncherDialog(LauncherResults& results, std::string& whyNot);

} // namespace lumo
