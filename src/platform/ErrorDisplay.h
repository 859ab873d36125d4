#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <utility>

// The application's error display. Every handler of a window message (clicks,
// timer ticks, media notifications, window creation) runs through guarded():
// an exception ends the handler and its message is shown in a modal box with
// an error icon and an OK button, captioned with the application title. The
// box runs a nested event loop, so timers keep firing while it is open.
// Called on the UI thread only.
namespace platform {

// The text shown for an exception message: a full stop is appended when the
// last character sorts above '.' (0x2E).
[[nodiscard]] QString errorText(const QString &message);

// Shows the error box for a message (through the sink when one is set).
void showError(const QString &message);

// Text of an exception: what() read as UTF-8.
[[nodiscard]] QString exceptionMessage(const std::exception &e);

// Tests replace the modal box with a sink that receives caption and text.
using ErrorSink = std::function<void(const QString &caption, const QString &text)>;
void setErrorSink(ErrorSink sink);

// Runs a handler; an exception it throws is shown and swallowed.
template <typename F>
void guarded(F &&handler) noexcept
{
    try {
        std::forward<F>(handler)();
    } catch (const std::exception &e) {
        showError(exceptionMessage(e));
    } catch (...) {
        showError(QStringLiteral("Unknown error"));
    }
}

} // namespace platform
