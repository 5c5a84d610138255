// Socket streams: the "tcp" protocol.
#pragma once

namespace corvid {

void StartSocketStreamModule();

}  // namespace corvid
