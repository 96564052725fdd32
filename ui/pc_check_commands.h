#pragma once
// Page commands of the PC check and the antivirus exclusion (window thread).
#include <string>

// "RUN_PC_CHECK": refused while a song or the rhythm engine plays, else starts the check.
void HandleRunPcCheck(const std::wstring& m);
// "PCCHK_PONG": the page's answer to a round-trip probe.
void HandlePcCheckPong(const std::wstring& m);
// "SET_AV_EXCLUDE:" + n: adds (n != 0) or removes the install folder's exclusion, reads again 4 s later.
void HandleSetAvExclude(const std::wstring& m);
// "CHECK_AV": reads the antivirus state on a worker thread.
void HandleCheckAv(const std::wstring& m);
