// Byte-order streams: typed values in big-endian order over any stream.
#pragma once

namespace corvid {

void StartXEndianModule();

}  // namespace corvid
