#pragma once

#include <QString>

namespace platform {

// The application's title, as the error display and message boxes use it:
// the executable's file name without its extension, every character after
// the first in lower case ("quenvar" for /usr/bin/quenvar).
[[nodiscard]] QString applicationTitle();

// The same rule applied to any program path; exposed for tests.
[[nodiscard]] QString titleFromExecutable(const QString &path);

// The folder that holds the running executable.
[[nodiscard]] QString executableDir();

} // namespace platform
