#pragma once
// What every window of the program shares: the look (white, Arial 8 pt, fixed border,
// centred on the desktop), the text conversions at the edge of the windows, and the
// general error report for an error that reaches an event handler.
#include <QString>
#include <exception>
#include <string>

class QWidget;

namespace ui {

// White background, Arial 8 pt, fixed size at the form's design size, no help button.
void ApplyWindowLook(QWidget* form);
// Places a window in the middle of the screen it is on.
void CentreOnDesktop(QWidget* window);

// Texts from the core are byte strings in the system's encoding; file paths likewise.
inline QString ToQ(const std::string& text) { return QString::fromLocal8Bit(text.data(), qsizetype(text.size())); }
inline std::string FromQ(const QString& text) { return text.toLocal8Bit().toStdString(); }
// Single-byte texts that must survive a round trip byte for byte (the message file).
inline QString FromLatin1(const std::string& text) { return QString::fromLatin1(text.data(), qsizetype(text.size())); }
inline std::string ToLatin1(const QString& text) { return text.toLatin1().toStdString(); }
// A message with its CR LF, lone CR or lone LF breaks turned into what the widgets show.
QString DisplayText(const std::string& text);

// The general error report: a message box with the text, the caption "Tallomir", an error
// icon and "OK". The program carries on afterwards.
void ShowErrorReport(const QString& text);

// Runs an event handler; an error that escapes it goes to the general error report.
template <class Handler>
void Guarded(Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowErrorReport(DisplayText(e.what()));
    } catch (...) {
        ShowErrorReport(QStringLiteral("Unknown error."));
    }
}

}  // namespace ui
