// Bank and RAM streams: seekable streams over a bank or over a fixed window
// of memory.
#pragma once

namespace corvid {

void StartBankStreamModule();
void StartRamStreamModule();

}  // namespace corvid
