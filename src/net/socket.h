// Sockets.
#pragma once

namespace corvid {

void StartSocketModule();

}  // namespace corvid
