#pragma once
// Page command of the rhythm check overlay (window thread).
#include <string>

// "RCHK_SCAN": scans the style folder and sends the page the rhythm check's rows.
void HandleRhythmCheckScan(const std::wstring& m);
