#include "app/window.h"

std::atomic<bool> MainWindowHandle{false};
std::atomic<uint8_t> MainTickInFlight{0};
std::atomic<uint8_t> CustomerTickInFlight{0};
std::atomic<uint32_t> LastCustomerTickTime{0};
std::atomic<int> CustomerInitGeneration{0};
std::atomic<int> PendingCustomerInitGeneration{0};
FullscreenStateData FullscreenState;
