#pragma once
// The main program's remote-support connection: one session from the candidates to its end, the
// resume file through which a cut session is rejoined, and the banner at the top of the page.
#include <cstdint>
#include <string>

#include "online/rs_state.h"
#include "online/rs_wire.h"

// The member shown to the agent in the hello.
struct MemberInfo {
  std::wstring name;
  std::wstring id;
};

// Session results.
inline constexpr int kRsEnded = 0;
inline constexpr int kRsFailed = 1;
inline constexpr int kRsLost = 2;

inline constexpr std::wstring_view kRsResumeFile = L"<root>/system/rs_resume.cfg";

// The sent image for a monitor: scaled and made even; the whole monitor when that is below 320.
void ComputeSentSize(int monitorWidth, int monitorHeight, int scalePercent, int32_t* width, int32_t* height);

// One support connection to target on the calling thread, blocking for the whole session.
int RunSupportSession(const SupportTarget& target, const MemberInfo& member, bool resume, std::wstring* errorText);
// After a lost session: rejoin until it ends, twelve attempts in a row fail or the operator stops.
void ReconnectSupportSession(const SupportTarget& target, const MemberInfo& member);
// The operator's stop, from the window thread: sets the stop flags and shuts the socket down.
void ShutdownSupportSocket();
// The connection that the stop shuts down (SupportSessionSocket), and its close under the lock
// the stop takes, so the stop never touches a descriptor number that was closed and reused.
void PublishSocket(RsConnection* connection);
void CloseSessionSocket(RsConnection& connection);

void SaveRsResumeFile(const SupportTarget& target);
bool LoadRsResumeFile(SupportTarget* target);
void DeleteRsResumeFile();

// Text for a single-quoted script literal: CR and LF become spaces, ' and \ get a backslash.
std::wstring EscapeSupportText(std::wstring_view text);
// The script of the banner (orange, or red while active) with its stop button.
std::wstring SupportBannerScript(std::wstring_view text, bool active);
void ShowSupportBanner(std::wstring_view text, bool active);
void HideSupportBanner();

// What a session runs that is not part of the connection itself: the monitor to capture and the
// screen sender (returns when SessionStopFlag is set or a send fails).
RsRect CaptureMonitorRect();
void RunScreenSender(RsConnection& connection);
