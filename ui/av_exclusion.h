#pragma once
// The antivirus state of the install folder: whether real-time scanning of the antivirus service
// covers it. The state is read through the service's query command; on this system the process
// layer answers that no such service is present, which reads as "확인 불가" (code 0).
#include <string>
#include <string_view>

// The value after `key` up to the next ";" (else the line end, else the end); empty when absent.
std::wstring GetStatusField(std::wstring_view text, std::wstring_view key);

// Status code and text of one query output ("MODE=...;RT=...;EX=a|b"): 0 unreadable, 1 the install
// folder is not excluded, 2 excluded, 3 real-time scanning off, 4 another antivirus in charge.
// Each excluded path is compared with `installRoot` (ASCII case ignored, a trailing separator ignored).
struct AvStatus {
  int code = 0;
  std::wstring text = L"확인 불가";
};
AvStatus ParseAvStatus(std::wstring_view output, std::wstring_view installRoot);

// Runs the query, stores and logs the result; returns the code.
int QueryDefenderStatus();
// The last result (code and text read together).
AvStatus CurrentAvStatus();
// The page call "initAvExcl(code, text)" of the last result.
std::wstring PostAvExclusionState();
// Asks for the exclusion to be added or removed; logs the answer.
void SetDefenderExclusion(bool add);
// The check threads: query, post the state, badge (the delayed one waits 4 s first).
void StartAvExclusionCheck(bool delayed);
