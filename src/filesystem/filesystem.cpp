#include "filesystem/filesystem.h"

#include <string>
#include <string_view>
#include <vector>

#include "filesystem/listing.h"
#include "filesystem/path.h"
#include "filesystem/system_path.h"
#include "runtime/error.h"
#include "runtime/platform.h"
#include "stream/cstream.h"
#include "stream/stream_functions.h"
#include "stream/url.h"

namespace corvid {

namespace {

using platform::EntryKind;
using platform::EntryStatus;

bool Status(const Ref<String>& path, EntryStatus& status) {
  if (Text(path).View().find_first_of(u"<>") != std::u16string_view::npos) return false;
  return platform::PathStatus(SystemName(path), status);
}

Int KindOf(const Ref<String>& path) {
  EntryStatus status;
  if (!Status(path, status)) return PATHKIND_NONE;
  if (status.kind == EntryKind::File) return PATHKIND_FILE;
  if (status.kind == EntryKind::Directory) return PATHKIND_DIR;
  return PATHKIND_NONE;
}

bool IsLink(const Ref<String>& path) {
  EntryStatus status;
  return platform::LinkStatus(SystemName(path), status) && status.kind == EntryKind::Link;
}

Int ClampToInt(std::int64_t value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<Int>(value);
}

// `dir` + "/" + `name`, without doubling the "/" of a root such as "/",
// which would turn the path into a host name.
Ref<String> Child(const Ref<String>& dir, const Ref<String>& name) {
  if (Text(dir).View().ends_with(u'/')) return Concat(dir, name);
  return Concat(Concat(dir, "/"_s), name);
}

void MakeOneDir(const Ref<String>& path) {
  platform::MakeDirectory(SystemName(path));
}

bool SameEntry(const Ref<String>& a, const Ref<String>& b) {
  return platform::SameEntry(SystemName(a), SystemName(b));
}

// Plain file names (as OpenUrl would open them) of one and the same file:
// opening the destination would empty the source before it is read.
bool SameFile(const Ref<Object>& src, const Ref<Object>& dst) {
  Ref<String> a = CastTo<String>(src);
  Ref<String> b = CastTo<String>(dst);
  if (!a || !b || a->Includes("::"_s) || b->Includes("::"_s)) return false;
  return SameEntry(a->ReplaceAll("\\"_s, "/"_s), b->ReplaceAll("\\"_s, "/"_s));
}

// Copies `from` to the end into `to` and closes both: 1, or 0 when `to`
// stops taking bytes, also when the last of them are refused only as the
// file is closed (a full disk). Other errors pass on, leaving the streams
// to close when they are released.
Int CopyAndClose(const Ref<TStream>& from, const Ref<TStream>& to) {
  Int result = 1;
  try {
    CopyToEnd(from, to, 4096);
    to->Close();
  } catch (const Raised& raised) {
    if (!raised.As<TStreamWriteException>()) throw;
    result = 0;
  }
  // After a failed write the close reports the same loss again; the file is
  // released all the same.
  try {
    to->Close();
  } catch (const Raised& raised) {
    if (!raised.As<TStreamWriteException>()) throw;
  }
  from->Close();
  return result;
}

// Copies the file by name, not as a stream name, so that a file whose name
// holds "::" is copied like any other.
Int CopyFile(const Ref<String>& src, const Ref<String>& dst) {
  if (SameFile(src, dst)) return 0;
  Ref<TStream> from = TCStream::OpenFile(src, 1, 0);
  if (!from) return 0;
  Ref<TStream> to = TCStream::OpenFile(dst, 0, 1);
  if (!to) {
    from->Close();
    return 0;
  }
  return CopyAndClose(from, to);
}

// `top` is the directory the whole copy goes to. When it lies inside the
// source, the walk meets it and leaves it out, rather than copying the copy
// into itself until paths grow too long.
Int CopyTree(const Ref<String>& src, const Ref<String>& dst, const Ref<String>& top) {
  if (KindOf(dst) == PATHKIND_NONE) MakeDir(dst, 0);
  if (KindOf(dst) != PATHKIND_DIR) return 0;
  Ref<Array> names = ListDir(src, 1);
  for (const Ref<String>& name : names->Elements<Ref<String>>()) {
    Ref<String> from = Child(src, name);
    Ref<String> to = Child(dst, name);
    Int kind = KindOf(from);
    if (kind == PATHKIND_DIR) {
      if (IsLink(from) || SameEntry(from, top)) continue;
      if (!CopyTree(from, to, top)) return 0;
    } else if (kind == PATHKIND_FILE) {
      if (!CopyFile(from, to)) return 0;
    }
  }
  return 1;
}

// Empties the directory. Each level is reached from its parent without
// following a link, so an entry swapped for a link during the walk cannot
// lead it anywhere outside the tree; a link is removed as a link.
void RemoveContents(const platform::DirectoryHandle& dir) {
  for (const std::u16string& name : dir.Names()) {
    switch (dir.ChildKind(name)) {
      case EntryKind::Missing:
        break;
      case EntryKind::Directory: {
        // Closed before the removal: on Windows an open handle keeps its
        // directory from being removed.
        if (platform::DirectoryHandle child = dir.OpenChild(name); child.IsOpen()) RemoveContents(child);
        dir.RemoveChild(name, true);
        break;
      }
      default:
        dir.RemoveChild(name, false);
        break;
    }
  }
}

// Whether `path` as written is a file or a directory. A path too long for
// the system is not even built: a walk over each prefix of a very long
// path would otherwise copy it once per component.
bool ExistsAsWritten(std::u16string_view path) {
  if (path.size() >= platform::MaxPathUnits()) return false;
  Int kind = KindOf(FromUnits(path));
  return kind == PATHKIND_FILE || kind == PATHKIND_DIR;
}

// The entry of `dir` whose name matches `name` in any letter case, with a
// trailing "/" of `name` kept; false when there is none.
bool FindCased(const std::u16string& dir, std::u16string_view name, std::u16string& found) {
  bool slash = name.ends_with(u'/');
  if (slash) name.remove_suffix(1);
  Ref<String> wanted = FromUnits(name)->Lowercased();
  platform::DirectoryListing listing = ListingOf(FromUnits(dir));
  std::u16string entry;
  while (listing.Next(entry)) {
    Ref<String> candidate = FromUnits(entry);
    if (candidate->Lowercased()->View() != wanted->View()) continue;
    found = candidate->View();
    if (slash) found += u'/';
    return true;
  }
  return false;
}

}  // namespace

Int PathKind(const Ref<String>& path) { return KindOf(FixPath(path, 0)); }

Int PathModified(const Ref<String>& path) {
  EntryStatus status;
  return Status(FixPath(path, 0), status) ? ClampToInt(status.modified) : 0;
}

Int PathBytes(const Ref<String>& path) {
  EntryStatus status;
  return Status(FixPath(path, 0), status) ? ClampToInt(status.size) : -1;
}

Int PathPermissions(const Ref<String>& path) {
  EntryStatus status;
  return Status(FixPath(path, 0), status) ? static_cast<Int>(status.mode & 0777) : -1;
}

Int SetPathPermissions(const Ref<String>& path, Int mode) {
  Ref<String> fixed = FixPath(path, 0);
  platform::SetPermissionBits(SystemName(fixed), static_cast<unsigned>(mode) & 0777u);
  return 0;
}

Int MakeFile(const Ref<String>& pathRef) {
  Ref<String> path = FixPath(pathRef, 0);
  RemoveFile(path);
  if (platform::File* file = platform::FileOpen(SystemName(path), "wb")) platform::FileClose(file);
  return KindOf(path) == PATHKIND_FILE ? 1 : 0;
}

Int MakeDir(const Ref<String>& pathRef, Int recurse) {
  Ref<String> path = FixPath(pathRef, 1);
  if (!recurse) {
    MakeOneDir(path);
    return KindOf(path) == PATHKIND_DIR ? 1 : 0;
  }
  Ref<String> full = AbsolutePath(path);
  if (full->Length() == 0) return 0;
  full = Concat(full, "/"_s);
  // Each prefix ends with "/": first the root, then one component more at
  // each step.
  Int end = RootPath(full)->Length();
  for (;;) {
    Ref<String> prefix = Slice(full, 0, end);
    Int kind = KindOf(prefix);
    if (kind == PATHKIND_FILE) return 0;
    if (kind == PATHKIND_NONE) {
      Ref<String> dir = PathNoSlash(prefix);
      MakeOneDir(dir);
      if (KindOf(dir) != PATHKIND_DIR) return 0;
    }
    if (end >= full->Length()) return 1;
    end = full->IndexOf("/"_s, end) + 1;
  }
}

Int RemoveFile(const Ref<String>& pathRef) {
  Ref<String> path = FixPath(pathRef, 0);
  platform::RemoveEntry(SystemName(path));
  return KindOf(path) == PATHKIND_NONE ? 1 : 0;
}

Int RenamePath(const Ref<String>& oldPath, const Ref<String>& newPath) {
  Ref<String> from = FixPath(oldPath, 0);
  Ref<String> to = FixPath(newPath, 0);
  return platform::RenameEntry(SystemName(from), SystemName(to)) ? 1 : 0;
}

Int DuplicateFile(const Ref<Object>& src, const Ref<Object>& dst) {
  if (SameFile(src, dst)) return 0;
  Ref<TStream> from = OpenUrlReader(src);
  if (!from) return 0;
  Ref<TStream> to = OpenUrlWriter(dst);
  if (!to) {
    from->Close();
    return 0;
  }
  return CopyAndClose(from, to);
}

Int DuplicateDir(const Ref<String>& srcRef, const Ref<String>& dstRef) {
  Ref<String> src = FixPath(srcRef, 0);
  Ref<String> dst = FixPath(dstRef, 0);
  if (KindOf(src) != PATHKIND_DIR) return 0;
  return CopyTree(src, dst, dst);
}

Int RemoveDir(const Ref<String>& pathRef, Int recurse) {
  Ref<String> path = FixPath(pathRef, 1);
  if (recurse) {
    platform::DirectoryHandle dir = platform::DirectoryHandle::Open(SystemName(path));
    if (!dir.IsOpen()) return 0;
    RemoveContents(dir);
  }
  platform::RemoveDirectory(SystemName(path));
  return KindOf(path) == PATHKIND_NONE ? 1 : 0;
}

Int SetWorkingDir(const Ref<String>& path) {
  Ref<String> dir = FixPath(path, 1);
  return platform::ChangeDirectory(SystemName(dir)) ? 1 : 0;
}

Ref<String> DiskCasedPath(const Ref<String>& pathRef) {
  std::u16string_view path = Text(pathRef).View();
  // Walks up to the longest prefix that exists as written (or to the first
  // component), then down again, looking each component up in the
  // directory found so far. A loop rather than recursion: a path of many
  // thousand components must not exhaust the stack.
  struct Step {
    std::size_t slash, end;
  };
  std::vector<Step> steps;
  std::u16string cased;
  for (std::size_t end = path.size();;) {
    std::u16string_view here = path.substr(0, end);
    if (ExistsAsWritten(here)) {
      cased = here;
      break;
    }
    std::size_t slash = end >= 2 ? here.rfind(u'/', end - 2) : std::u16string_view::npos;
    if (slash == std::u16string_view::npos || slash == 0) {
      // A first component below "/" is looked for in "/", not in the
      // working directory, and keeps its "/".
      bool rooted = slash == 0;
      std::u16string entry;
      if (!FindCased(rooted ? u"/" : u".", here.substr(rooted ? 1 : 0), entry))
        return String::Empty();
      cased = rooted ? u"/" + entry : entry;
      break;
    }
    steps.push_back({slash, end});
    end = slash;
  }
  for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
    std::u16string entry;
    if (!FindCased(cased, path.substr(step->slash + 1, step->end - step->slash - 1), entry))
      return String::Empty();
    cased += u'/';
    cased += entry;
  }
  return String::FromWideSpan(cased.data(), static_cast<Int>(cased.size()));
}

}  // namespace corvid
