// Directory listings: handles that hand out entry names one at a time, and
// the whole listing as an array.
#pragma once

#include "runtime/array.h"
#include "runtime/string.h"

namespace corvid {

/// A handle (> 0) on a listing of the directory `path` (normalised as a
/// directory); 0 when the path is missing, no directory or unreadable.
Int OpenListing(const Ref<String>& path);
/// The next entry name, bare, in the order the system gives them ("." and
/// ".." included); the empty string once the listing is exhausted, and for
/// a handle that is closed or was never handed out.
Ref<String> NextListed(Int handle);
/// Ends the listing; a handle that is not open is let pass. Returns 0.
Int CloseListing(Int handle);
/// Every entry name of the directory in listing order, without "." and ".."
/// when `skipDots` is set, as a String array; the empty array when the
/// directory cannot be listed.
Ref<Array> ListDir(const Ref<String>& path, Int skipDots);

}  // namespace corvid
