#pragma once

namespace app {

// The folder check run each time the main window is shown: creates
// "c:\recording\" and "c:\testtank\" when they are not directories. A folder
// that cannot be created (a plain file of that name, no permission) is
// passed over silently; existing folders and their contents are untouched.
void checkWorkingFolders();

} // namespace app
