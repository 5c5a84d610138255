// Banks made from byte strings and read back as byte strings.
#pragma once

#include <cstring>
#include <string>

#include "memstream/bank.h"

namespace corvid::testing {

/// A new bank holding exactly `bytes`.
inline Ref<TBank> BankOf(const std::string& bytes) {
  Ref<TBank> bank = NewBank(static_cast<Int>(bytes.size()));
  if (!bytes.empty()) std::memcpy(bank->Buf(), bytes.data(), bytes.size());
  return bank;
}

/// The bytes within the bank's size.
inline std::string BytesOf(const Ref<TBank>& bank) {
  return std::string(reinterpret_cast<const char*>(bank->Buf()), static_cast<std::size_t>(bank->Size()));
}

}  // namespace corvid::testing
