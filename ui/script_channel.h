#pragma once
// The program's side of the page channel that needs the page host: the customer page's own
// scripts and the scripts a newly opened customer page replays. Posting from any thread is in
// base/page_script.h.
#include <mutex>
#include <string>
#include <string_view>

#include "base/page_script.h"

// Posts the page's lite-mode script (built with the backgrounds).
void PostLiteModeScript();

// Window thread only: runs the script on the customer page when one is open.
void RunCustomerScript(std::wstring_view script);
