// The one rule by which an error raised inside a handler of the window becomes a message box.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace tavrin {

class DesktopServices;

// Appends "." to a message whose last character sorts after "." (any letter, digit or
// non-ASCII character); leaves an empty message and one ending in punctuation alone.
std::string WithClosingPeriod(std::string message);

// The error's message for display (UTF-8), a file name in it shown by the path rule, with the
// closing period.
std::string ErrorMessageText(const std::exception& error);

// Shows one box modal for the whole application: the message, caption "tavrin", OK with the
// error icon.
void ShowError(DesktopServices& services, const std::exception& error);

}  // namespace tavrin
