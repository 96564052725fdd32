#pragma once
// The new-version notice: the release post's title and text, shown in a small window that asks
// whether to update now.
#include <string>
#include <string_view>

#include "online/post_text.h"  // the post's title and text

// Asks the operator; true for "지금 업데이트". Without a display the question is logged and the
// answer is "나중에".
bool ShowUpdateNotice(std::wstring_view title, std::wstring_view content);
