// Banks: resizable blocks of raw bytes.
#pragma once

namespace corvid {

void StartBankModule();

}  // namespace corvid
