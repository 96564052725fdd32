#include "ui/remote_commands.h"

#include <algorithm>

#include "base/text.h"
#include "online/rs_front.h"

void HandleRemoteSupport(const std::wstring&) { StartRemoteSupport(); }

void HandleRemoteSupportStop(const std::wstring&) { StopRemoteSupport(); }

// "RS_PICK:" and the index in the page's list; -1 cancels.
void HandleRsPick(const std::wstring& m) {
  constexpr size_t kPrefix = 8;  // "RS_PICK:"
  SetSupportPick(LeadingInt(std::wstring_view(m).substr(std::min(m.size(), kPrefix))));
}
