#pragma once

#include <QString>

#include <string>
#include <string_view>

// The ANSI and OEM code pages of the machines tests are written on: CP936
// (GBK), read as its superset GB18030. Used for archive entry names without
// a Unicode flag, manifests and texts that are not UTF-8 and declare nothing.
namespace platform {

// Bytes in CP936 to text. Bytes that are not valid GB18030 become U+FFFD;
// the conversion never fails.
[[nodiscard]] QString fromAnsi(std::string_view bytes);

// Text to CP936 bytes. Characters CP936 lacks become '?'.
[[nodiscard]] std::string toAnsi(const QString &text);

// Bytes in a named code page ("GBK", "GB2312", "UTF-8", "windows-1252", ...)
// to text; an unknown name is read as CP936.
[[nodiscard]] QString fromCodePage(std::string_view bytes, const std::string &codePage);

// Windows code page number (936, 1252, 65001, ...) to an iconv name; empty
// when unknown.
[[nodiscard]] std::string codePageName(int codePage);

[[nodiscard]] bool isValidUtf8(std::string_view bytes);

// Plain text file contents: UTF-8 when they start with a UTF-8 byte order
// mark or are valid UTF-8, UTF-16 with its byte order mark, else CP936.
[[nodiscard]] QString decodeText(std::string_view bytes);

} // namespace platform
