// Client table, connect and disconnect.
#pragma once
#include <cstdint>

#include "context.h"

namespace qv::rp1210 {

int16_t ClientConnect(void* hwndClient, int16_t nDeviceID, const char* protocol, int16_t appPacketizing);
int16_t ClientDisconnect(int16_t nClientID);

// The client's slot when the id is 1..10 and the slot is taken, else null.
ClientSlot* FindClient(int16_t nClientID);

}  // namespace qv::rp1210
