#pragma once
// Message boxes of the program. With a display the box is shown and waits for the operator;
// without one nobody can answer, so the box is written to the debug log and its default answer
// is taken.
#include <string_view>

#include "platform/message_box.h"

plat::BoxAnswer ShowMessageBoxOrLog(std::wstring_view caption, std::wstring_view text,
                                    plat::BoxButtons buttons, plat::BoxIcon icon,
                                    plat::BoxAnswer defaultAnswer);
