// The one place where an error raised by a handler of the window becomes a message box.
#pragma once

#include <QString>
#include <exception>

namespace tavrin {

class DesktopServices;

inline constexpr const char* kApplicationTitle = "tavrin";

// The error's message for display, with "." appended when its last character sorts after ".".
QString ErrorMessageText(const std::exception& error);

// Appends "." to a message whose last character sorts after "." (any letter, digit or
// non-ASCII character); leaves an empty message and one ending in punctuation alone.
QString WithClosingPeriod(const QString& message);

// Shows one application-modal box: the message, caption "tavrin", OK with the error icon.
void ShowError(DesktopServices& services, const std::exception& error);

}  // namespace tavrin
