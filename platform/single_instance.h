#pragma once
// One running program per install root, in place of a named mutex: a lock file under the root
// held for the life of the process, and a local socket beside it through which a later start asks
// the running one to come forward.
#include <functional>
#include <string_view>

namespace plat {

enum class InstanceClaim {
  kOwner,      // this process holds the lock now (or the lock cannot be taken at all)
  kForwarded,  // another process holds it and answered that it comes forward
  kHeld,       // another process holds it but did not answer (it may be ending)
};

// One attempt. The lock file is "<root>/system/<name>.lock" and stays locked until the process
// ends. When it is held, asks the holder through "<root>/system/<name>.sock" to come forward,
// waiting at most `waitMs` for the whole exchange: a frozen holder costs no more than that.
// With askHolder false the holder is not asked: a successor waits for its predecessor to end.
InstanceClaim ClaimSingleInstance(std::string_view name, int waitMs = 500, bool askHolder = true);

// Up to `attempts` attempts `retryMs` apart until this process owns the lock or the holder
// answers; the whole of it, answers awaited included, takes at most attempts x retryMs.
InstanceClaim ClaimSingleInstanceRetrying(std::string_view name, int attempts, int retryMs,
                                          bool askHolder = true);

// Once owner: answers later starts on the socket. For each request, onForward runs on the
// listener thread and returns whether the request was taken (the asker is told so).
bool ListenForLaterStarts(std::function<bool()> onForward);


}  // namespace plat
