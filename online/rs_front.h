#pragma once
// What the operator meets of remote support: the request started by the page's button (settings,
// member, agent list, the page's picker, the session and its report), the stop, the pick, and the
// rejoin of a cut session at start.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "online/rs_session.h"
#include "online/rs_wire.h"

inline constexpr std::wstring_view kSupportConfigFile = L"<root>/system/support.cfg";

struct RemoteSupportFrontState {
  // The agent index chosen in the page; -2 while no answer has come.
  std::atomic<int32_t> SupportPickIndex{-2};
  // Host of the default agent entry, replaced by "host" in support.cfg (guarded by hostMutex).
  std::mutex hostMutex;
  std::wstring DefaultSupportHost = L"tavelo-support.invalid";
  // Pauses (tests shorten them): before a rejoin at start, and the picker's wait in 100 ms tests.
  std::atomic<int> resumeDelayMs{8000};
  std::atomic<int> pickTests{1800};
};
extern RemoteSupportFrontState RsFront;

void LoadSupportConfig();
MemberInfo FetchMemberInfo();
std::vector<SupportAgent> FetchSupportAgents(const std::wstring& memberId);
// The picker script for the page's dialog.
std::wstring SupportPickerScript(const MemberInfo& member, const std::vector<SupportAgent>& agents);
int PickSupportAgent(const MemberInfo& member, const std::vector<SupportAgent>& agents);

// Page commands (window thread).
void StartRemoteSupport();
void StopRemoteSupport();
void SetSupportPick(int index);

// Thread bodies.
void RemoteSupportThread();
void ResumeSupportThread();

// One probe of the network badge: 2 when the vendor web server answers, 1 when only a public DNS
// resolver does, 0 otherwise. Posts the state to the page and logs it when it differs from
// `previous` (-1 before the first probe).
int RunNetProbe(int previous);
void NetStatusThread();
