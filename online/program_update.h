#pragma once
// The program update: the installed release's post number, and the swap of the program file for
// a new release.
#include <filesystem>
#include <string_view>

// The installed release's post number from system/program_update.cfg; -1 when there is none.
int ReadProgramUpdateCfg();
// Rewrites system/program_update.cfg with the number (no line end).
void SaveProgramUpdateCfg(int postNumber);

// The previous program file beside the running one ("tavelo_old"); empty when the running
// program's path is unknown.
std::filesystem::path PreviousProgramPath();

// Puts the downloaded program file in place of the running one and starts it; false (the running
// program file untouched) when that fails.
bool SwapProgramExe(const std::filesystem::path& newExePath);

// Downloads one attachment of the program board into `destPath`; false when no file arrived.
bool DownloadProgramExe(std::wstring_view cookieHeader, int postNumber, int attachmentNo,
                        const std::filesystem::path& destPath);
// The page's "프로그램 업그레이드" button: the check with messages, on its own thread.
void ProgramUpdateThread();
