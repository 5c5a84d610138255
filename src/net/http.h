// HTTP streams: the "http" protocol.
#pragma once

namespace corvid {

void StartHttpModule();

}  // namespace corvid
