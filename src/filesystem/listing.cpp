#include "filesystem/listing.h"

#include <map>
#include <mutex>
#include <vector>

#include "filesystem/internal/system_path.h"

namespace corvid {

namespace {

// Open listings by handle. Handles count up and are not reused while the
// counter has room, so a stale handle is far more likely to name nothing
// than someone else's listing.
struct ListingTable {
  std::mutex lock;
  std::map<Int, platform::DirectoryListing> open;
  Int last = 0;
};

ListingTable& Table() {
  static NoDestroy<ListingTable> table;
  return table.get();
}

}  // namespace

Int OpenListing(const Ref<String>& path) {
  platform::DirectoryListing listing = ListingOf(path);
  if (!listing.IsOpen()) return 0;
  ListingTable& table = Table();
  std::lock_guard guard(table.lock);
  do {
    table.last = table.last == INT32_MAX ? 1 : table.last + 1;
  } while (table.open.contains(table.last));
  table.open.emplace(table.last, std::move(listing));
  return table.last;
}

Ref<String> NextListed(Int handle) {
  ListingTable& table = Table();
  std::u16string name;
  {
    std::lock_guard guard(table.lock);
    auto found = table.open.find(handle);
    if (found == table.open.end() || !found->second.Next(name)) return String::Empty();
  }
  return FromUnits(name);
}

Int CloseListing(Int handle) {
  ListingTable& table = Table();
  platform::DirectoryListing closing;
  {
    std::lock_guard guard(table.lock);
    auto found = table.open.find(handle);
    if (found == table.open.end()) return 0;
    closing = std::move(found->second);
    table.open.erase(found);
  }
  return 0;
}

Ref<Array> ListDir(const Ref<String>& path, Int skipDots) {
  platform::DirectoryListing listing = ListingOf(path);
  std::vector<Ref<String>> names;
  std::u16string name;
  while (listing.Next(name)) {
    if (skipDots && (name == u"." || name == u"..")) continue;
    names.push_back(FromUnits(name));
  }
  return Array::FromStrings(names);
}

}  // namespace corvid
