#pragma once

// Process set-up shared by the program and the test executables.
namespace platform {

// Before the QApplication exists: make sure LC_CTYPE is a UTF-8 locale
// (libarchive converts entry names only under one), falling back to C.UTF-8.
void ensureUtf8Locale();

// Right after the QApplication exists: Qt has reset LC_NUMERIC from the
// environment, and libmpv refuses to start unless it is "C".
void fixNumericLocale();

// Right after the QApplication exists: Qt's own texts (the file dialogs'
// labels and buttons, context menus) in Simplified Chinese like the rest of
// the interface, whatever the user's locale. Without Qt's translation files
// they stay English; false then.
bool installChineseQtTexts();

} // namespace platform
