// The online services' process-wide state.
#include "online/services.h"

OnlineState Online;
