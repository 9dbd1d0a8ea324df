#pragma once
// Message boxes: a real dialog with a display, otherwise the text and the answer taken (the
// question's default, No, or OK) on standard output, so a person at the terminal sees that
// nothing waits for input.
#include <functional>
#include <string_view>

class QWidget;

namespace perimo {

enum class MessageBoxKind { kOk, kYesNo };
enum class MessageBoxAnswer { kOk, kYes, kNo };
enum class MessageBoxIcon { kNone, kInformation, kExclamation, kQuestion };

using MessageBoxFn = std::function<MessageBoxAnswer(QWidget* parent, std::u16string_view text,
                                                    MessageBoxKind kind, MessageBoxIcon icon)>;

// With a widget application and canShow: a modal box titled title; else standard output.
MessageBoxAnswer ShowMessageBox(QWidget* parent, std::u16string_view title,
                                std::u16string_view text, MessageBoxKind kind, MessageBoxIcon icon,
                                bool canShow);

// A text as UTF-8 lines on standard output, flushed at once ("\r\r\n" and "\r\n" end lines).
void WriteLineToStdout(std::u16string_view text);

}  // namespace perimo
