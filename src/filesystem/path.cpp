#include "filesystem/path.h"

#include <new>
#include <string>
#include <string_view>

#include "runtime/internal/platform.h"

namespace corvid {

namespace {

using Units = std::u16string;
using View = std::u16string_view;
constexpr auto npos = View::npos;

Units UnitsOf(const Ref<String>& s) { return Units(Text(s).View()); }

Ref<String> StringOf(View units) {
  if (units.size() > INT32_MAX) throw std::bad_alloc();
  return String::FromWideSpan(units.data(), static_cast<Int>(units.size()));
}

std::size_t RootLength(View path) {
  if (path.starts_with(u"//")) {
    std::size_t slash = path.find(u'/', 2);
    return slash == npos ? 0 : slash + 1;
  }
  std::size_t colon = path.find(u':');
  if (colon != npos && path.find(u'/') == colon + 1) return colon + 2;
  return path.starts_with(u'/') ? 1 : 0;
}

bool IsRoot(View path) { return !path.empty() && RootLength(path) == path.size(); }

Units Fix(Units path, bool isDir) {
  for (char16_t& unit : path) {
    if (unit == u'\\') unit = u'/';
  }
  if (path.starts_with(u"//")) {
    if (path.find(u'/', 2) == npos) path += u'/';
  } else {
    std::size_t colon = path.find(u':');
    if (colon != npos && (colon + 1 == path.size() || path[colon + 1] != u':')) {
      std::size_t slash = path.find(u'/');
      if (slash == npos || slash > colon + 1) path.insert(colon + 1, 1, u'/');
    }
  }
  if (isDir && path.ends_with(u'/') && !IsRoot(path)) path.pop_back();
  return path;
}

Units Fixed(const Ref<String>& path) { return Fix(UnitsOf(path), false); }

// The parent of a normalised path that is not ".", ".." or a root.
Units ParentOf(View path) {
  std::size_t slash = path.rfind(u'/');
  if (slash == npos) return {};
  View through = path.substr(0, slash + 1);
  return Units(IsRoot(through) ? through : path.substr(0, slash));
}

// Position of the extension's "." in a normalised path, or npos.
std::size_t ExtensionDot(View path) {
  std::size_t dot = path.rfind(u'.');
  if (dot == npos || path.find(u'/', dot) != npos) return npos;
  return dot;
}

}  // namespace

Ref<String> FixPath(const Ref<String>& path, Int isDir) {
  return StringOf(Fix(UnitsOf(path), isDir != 0));
}

Ref<String> RootPath(const Ref<String>& path) {
  View units = Text(path).View();
  return StringOf(units.substr(0, RootLength(units)));
}

Int IsRootPath(const Ref<String>& path) { return IsRoot(Text(path).View()) ? 1 : 0; }
Int IsAbsolutePath(const Ref<String>& path) { return RootLength(Text(path).View()) > 0 ? 1 : 0; }

Ref<String> CurrentDrive() {
  // A colon inside a Linux directory name is no drive: only text before the
  // first separator can name one.
  std::u16string cwd = platform::CurrentDirectory();
  std::size_t colon = cwd.find(u':');
  if (colon == std::u16string::npos || cwd.find_first_of(u"/\\") < colon) return String::Empty();
  return FromUnits(std::u16string_view(cwd).substr(0, colon));
}

Ref<String> PathLeaf(const Ref<String>& path) {
  Units units = Fixed(path);
  std::size_t slash = units.rfind(u'/');
  return StringOf(slash == npos ? View(units) : View(units).substr(slash + 1));
}

Ref<String> PathNoExt(const Ref<String>& path) {
  Units units = Fixed(path);
  return StringOf(View(units).substr(0, ExtensionDot(units)));
}

Ref<String> PathLeafNoExt(const Ref<String>& path) { return PathLeaf(PathNoExt(path)); }

Ref<String> PathNoSlash(const Ref<String>& path) {
  Units units = Fixed(path);
  if (units.ends_with(u'/') && !IsRoot(units)) units.pop_back();
  return StringOf(units);
}

Ref<String> PathParent(const Ref<String>& path) {
  Units units = Fixed(path);
  if (units == u"." || units == u".." || IsRoot(units)) return StringOf(units);
  return StringOf(ParentOf(units));
}

Ref<String> PathExt(const Ref<String>& path) {
  Units units = Fixed(path);
  std::size_t dot = ExtensionDot(units);
  return dot == npos ? String::Empty() : StringOf(View(units).substr(dot + 1));
}

Ref<String> WorkingDir() { return FixPath(FromUnits(platform::CurrentDirectory()), 0); }

Ref<String> AbsolutePath(const Ref<String>& pathRef) {
  Units path = UnitsOf(pathRef);
  if (path.starts_with(u'/') && !path.starts_with(u"//")) {
    Units drive = UnitsOf(CurrentDrive());
    if (!drive.empty()) path = drive + u":" + path;
  }
  path = Fix(std::move(path), false);
  Units result;
  if (std::size_t root = RootLength(path); root > 0) {
    result = path.substr(0, root);
    path.erase(0, root);
  } else {
    result = UnitsOf(WorkingDir());
    if (result.empty()) return String::Empty();
  }
  path += u'/';
  std::size_t start = 0;
  for (std::size_t slash; (slash = path.find(u'/', start)) != npos; start = slash + 1) {
    View component = View(path).substr(start, slash - start);
    if (component.empty() || component == u".") continue;
    if (component == u"..") {
      if (!IsRoot(result)) result = ParentOf(result);
      continue;
    }
    if (!result.ends_with(u'/')) result += u'/';
    result += component;
  }
  return StringOf(result);
}

}  // namespace corvid
