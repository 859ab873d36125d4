#pragma once

#include <QString>

namespace platform {

// lstrcmpA: locale-aware, case-sensitive comparison under the user's locale
// (pinyin order for Chinese under a Chinese locale). Negative, zero or
// positive like strcmp.
[[nodiscard]] int lstrcmpA(const QString &a, const QString &b);

} // namespace platform
