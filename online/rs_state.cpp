#include "online/rs_state.h"

RemoteSupportClientState RsClient;

std::string SupportSharedKey() {
  std::lock_guard<std::mutex> lock(RsClient.keyMutex);
  return RsClient.sharedKey;
}

void SetSupportSharedKey(std::string key) {
  std::lock_guard<std::mutex> lock(RsClient.keyMutex);
  RsClient.sharedKey = std::move(key);
}
