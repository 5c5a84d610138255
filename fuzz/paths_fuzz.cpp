// Fuzz target: the path functions. Normalisation, roots, parents and
// absolute paths are checked against the rules written out here on their
// own; the dissecting functions against each other.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "check.h"
#include "filesystem/path.h"

namespace {

using namespace corvid;
using Units = std::u16string;
constexpr auto npos = Units::npos;

Units U(const Ref<String>& s) { return Units(Text(s).View()); }
Ref<String> S(const Units& u) { return String::FromWideSpan(u.data(), static_cast<Int>(u.size())); }

// The root forms, first match wins: "//" host "/"; a drive whose first ":"
// is directly followed by the first "/"; "/"; none.
Units Root(const Units& p) {
  if (p.starts_with(u"//")) {
    auto slash = p.find(u'/', 2);
    return slash == npos ? Units() : p.substr(0, slash + 1);
  }
  auto colon = p.find(u':');
  if (colon != npos && p.find(u'/') == colon + 1) return p.substr(0, colon + 2);
  return p.starts_with(u'/') ? Units(u"/") : Units();
}

bool IsRoot(const Units& p) { return !p.empty() && Root(p) == p; }

Units Fix(Units p, bool isDir) {
  for (auto& u : p)
    if (u == u'\\') u = u'/';
  if (p.starts_with(u"//")) {
    if (p.find(u'/', 2) == npos) p += u'/';
  } else if (auto colon = p.find(u':'); colon != npos) {
    bool lone = colon + 1 == p.size() || p[colon + 1] != u':';
    auto slash = p.find(u'/');
    if (lone && (slash == npos || slash > colon + 1)) p.insert(colon + 1, u"/");
  }
  if (isDir && p.ends_with(u'/') && !IsRoot(p)) p.pop_back();
  return p;
}

Units Parent(Units p) {
  p = Fix(p, false);
  if (p == u"." || p == u".." || IsRoot(p)) return p;
  auto slash = p.rfind(u'/');
  if (slash == npos) return {};
  Units through = p.substr(0, slash + 1);
  return IsRoot(through) ? through : p.substr(0, slash);
}

Units Absolute(Units p) {
  if (p.starts_with(u'/') && !p.starts_with(u"//") && CurrentDrive()->Length() > 0)
    p = U(CurrentDrive()) + u":" + p;
  p = Fix(p, false);
  Units result = Root(p);
  if (!result.empty()) {
    p.erase(0, result.size());
  } else {
    result = U(WorkingDir());
    if (result.empty()) return {};
  }
  p += u'/';
  for (std::size_t start = 0, slash; (slash = p.find(u'/', start)) != npos; start = slash + 1) {
    Units component = p.substr(start, slash - start);
    if (component.empty() || component == u".") continue;
    if (component == u"..") {
      if (!IsRoot(result)) {
        auto cut = result.rfind(u'/');
        Units through = result.substr(0, cut + 1);
        result = cut == npos ? Units() : IsRoot(through) ? through : result.substr(0, cut);
      }
      continue;
    }
    if (!result.ends_with(u'/')) result += u'/';
    result += component;
  }
  return result;
}

void CheckPath(const Ref<String>& path) {
  Units p = U(path);
  Units fixed = Fix(p, false);
  Check(U(FixPath(path, 0)) == fixed, "FixPath");
  Check(U(FixPath(path, 1)) == Fix(p, true), "FixPath of a directory");
  Check(fixed.find(u'\\') == npos, "FixPath leaves no backslash");
  Check(U(FixPath(S(fixed), 0)) == fixed, "FixPath twice");
  Check(U(RootPath(path)) == Root(p), "RootPath");
  Check(IsRootPath(path) == (IsRoot(p) ? 1 : 0), "IsRootPath");
  Check(IsAbsolutePath(path) == (Root(p).empty() ? 0 : 1), "IsAbsolutePath");
  Check(U(PathParent(path)) == Parent(p), "PathParent");
  Check(U(PathNoSlash(path)) == Fix(p, true), "PathNoSlash");

  Units leaf = U(PathLeaf(path));
  Check(leaf.find(u'/') == npos && fixed.ends_with(leaf), "PathLeaf");
  Units noExt = U(PathNoExt(path));
  Units ext = U(PathExt(path));
  bool dotted = noExt.size() < fixed.size();
  Check(fixed == (dotted ? noExt + u"." + ext : noExt), "PathNoExt and PathExt make the path");
  Check(ext.find(u'/') == npos && ext.find(u'.') == npos, "PathExt is after the last dot");
  Check(U(PathLeafNoExt(path)) == U(PathLeaf(S(noExt))), "PathLeafNoExt");

  Units absolute = U(AbsolutePath(path));
  Check(absolute == Absolute(p), "AbsolutePath");
  if (!absolute.empty()) {
    Check(!Root(absolute).empty(), "AbsolutePath has a root");
    Check(U(AbsolutePath(S(absolute))) == absolute, "AbsolutePath twice");
    Units rest = absolute.substr(Root(absolute).size()) + u"/";
    Check(rest == u"/" || (rest.find(u"//") == npos && rest.find(u"/./") == npos &&
                           rest.find(u"/../") == npos && !rest.starts_with(u"./") &&
                           !rest.starts_with(u"../")),
          "AbsolutePath has no empty, \".\" or \"..\" component");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size > 4096) return 0;
  CheckPath(String::FromNarrowSpan(bytes, static_cast<Int>(size)));
  return 0;
}
