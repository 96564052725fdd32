#include "online/rs_state.h"

RemoteSupportClientState RsClient;
