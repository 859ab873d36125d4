#pragma once

#include <QString>

#include <stdexcept>
#include <string_view>

class QTextDocument;
class QTextEdit;
class QPlainTextEdit;

// Rich-text (RTF) reading for the memo controls, written for the subset
// that word processors and test authors produce: fonts, sizes, bold, italic,
// underline, strike-out, colours, paragraphs with their alignment, spacing
// and indents, "\'hh" bytes in the font's or document's code page and "\uN"
// characters.
// Destinations it does not show (pictures, style sheets, document info,
// field instructions, "\*" groups) are skipped whole. UI thread only.
namespace ui {

class ERtfError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The file read by RichEdit-style loading failed in both forms.
inline constexpr const char *kFailedToLoadStream = "Failed to Load Stream";

// True when the bytes begin like an RTF document ("{\rtf").
[[nodiscard]] bool looksLikeRtf(std::string_view bytes);

// Appends the document's text with its formatting at the end of doc.
// Throws ERtfError on input it cannot read as RTF (no "{\rtfN" header,
// groups nested deeper than any real document, or too much text); it never
// crashes or loops on malformed input, and always ends in time linear in
// the input's size.
void readRtf(std::string_view bytes, QTextDocument *doc);

// Loads a file into a rich memo: RTF with its formatting when the file
// begins like RTF and reads as such, otherwise as plain text (UTF-8 when it
// has a byte order mark or is valid UTF-8, else CP936). The memo is emptied
// first. Errors: "Cannot open file "%s". %s" when the file cannot be read,
// "Failed to Load Stream" when it is neither readable RTF nor text.
void loadRichMemo(QTextEdit *memo, const QString &windowsPath);

// Loads a file into a plain memo as text (emptied first).
void loadPlainMemo(QPlainTextEdit *memo, const QString &windowsPath);

// The bytes of a file named by a Windows path, or the "Cannot open file"
// error.
[[nodiscard]] std::string readFileBytes(const QString &windowsPath);

} // namespace ui
