#pragma once

#include <exception>
#include <utility>

#include <QString>

namespace sonarelle {

// Caption of every standard message box and the application's title.
inline constexpr const char* kApplicationTitle = "sonarelle recorder";

// Whether a widget application runs; without one (headless components and their tests)
// boxes and dialogs give their text to standard error instead, or are skipped.
bool HaveWidgets();
// The standard message box: the text, an OK button, the application title as caption.
void ShowMessage(const QString& text);

// The standard error box the message loop shows for an error raised by a command or a tick.
void ShowErrorBox(const QString& text);

// An information box with an OK button.
void ShowInformation(const QString& text);
// A question with Yes and No buttons; true only for Yes (without widgets: No).
bool AskYesNo(const QString& text);
// The same with the buttons named `yes` and `no`: No is the default, and what Escape or
// closing the box gives.
bool AskYesNo(const QString& text, const QString& yes, const QString& no);
// Shows the exception's text in the standard error box.
void ShowException(const std::exception& error);

// Runs a command or tick the way the message loop does: an error ends it where it was
// raised, its text is shown in the standard error box, and the program goes on.
template <class Command>
void RunGuarded(Command&& command) {
  try {
    std::forward<Command>(command)();
  } catch (const std::exception& error) {
    ShowException(error);
  }
}

}  // namespace sonarelle
