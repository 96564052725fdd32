#pragma once
// Message boxes of the program. With a display the box is shown and waits for the operator;
// without one nobody can answer, so the box is written to the debug log and its default answer
// is taken.
#include <string_view>

#include "platform/message_box.h"

// `closedByProgram`, when given, tells whether the box was closed with its default answer by the
// program (plat::CloseQuestionBoxes: a signal, or a page command that cannot wait) rather than
// answered by a person; that is logged too.
plat::BoxAnswer ShowMessageBoxOrLog(std::wstring_view caption, std::wstring_view text,
                                    plat::BoxButtons buttons, plat::BoxIcon icon,
                                    plat::BoxAnswer defaultAnswer, bool* closedByProgram = nullptr);
