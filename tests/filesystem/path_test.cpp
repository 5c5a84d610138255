// Tests for the path functions: normalisation, the root forms, dissection
// and resolution against the working directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "filesystem/path.h"
#include "in_temp_dir.h"
#include "support/test_support.h"

namespace corvid {
namespace {

using testing::Units;

Ref<String> S(std::u16string_view units) {
  return String::FromWideSpan(units.data(), static_cast<Int>(units.size()));
}

using PathFunction = Ref<String> (*)(const Ref<String>&);

Ref<String> FixPlain(const Ref<String>& path) { return FixPath(path, 0); }
Ref<String> FixDir(const Ref<String>& path) { return FixPath(path, 1); }

struct PathCase {
  const char* name;
  PathFunction function;
  std::u16string input;
  std::u16string expected;
};

TEST(PathFunctions, DissectPathsAsWritten) {
  const PathCase cases[] = {
      {"FixPath", FixPlain, u"a\\b\\c", u"a/b/c"},
      {"FixPath", FixPlain, u"C:", u"C:/"},
      {"FixPath", FixPlain, u"C:name", u"C:/name"},
      {"FixPath", FixPlain, u"C:\\x", u"C:/x"},
      {"FixPath", FixPlain, u"//host", u"//host/"},
      {"FixPath", FixPlain, u"\\\\host\\share", u"//host/share"},
      {"FixPath", FixPlain, u"/a:b", u"/a:b"},
      {"FixPath", FixPlain, u"utf8::x", u"utf8::x"},
      {"FixPath", FixPlain, u"a/b/", u"a/b/"},
      {"FixPath dir", FixDir, u"a/b/", u"a/b"},
      {"FixPath dir", FixDir, u"a//", u"a/"},
      {"FixPath dir", FixDir, u"/", u"/"},
      {"FixPath dir", FixDir, u"C:", u"C:/"},
      {"FixPath dir", FixDir, u"//host/", u"//host/"},
      {"RootPath", RootPath, u"//host", u""},
      {"RootPath", RootPath, u"//host/a", u"//host/"},
      {"RootPath", RootPath, u"drive:/x", u"drive:/"},
      {"RootPath", RootPath, u"/x", u"/"},
      {"RootPath", RootPath, u"x/y", u""},
      {"RootPath", RootPath, u"a/b:/c", u""},
      {"PathLeaf", PathLeaf, u"a\\b.txt", u"b.txt"},
      {"PathLeaf", PathLeaf, u"name", u"name"},
      {"PathLeaf", PathLeaf, u"a/", u""},
      {"PathNoExt", PathNoExt, u"dir.d/file", u"dir.d/file"},
      {"PathNoExt", PathNoExt, u"a/b.tar.gz", u"a/b.tar"},
      {"PathLeafNoExt", PathLeafNoExt, u"dir.d\\file.txt", u"file"},
      {"PathExt", PathExt, u"a/b.txt", u"txt"},
      {"PathExt", PathExt, u"dir.d/file", u""},
      {"PathExt", PathExt, u"a.", u""},
      {"PathNoSlash", PathNoSlash, u"a\\", u"a"},
      {"PathNoSlash", PathNoSlash, u"/", u"/"},
      {"PathNoSlash", PathNoSlash, u"C:", u"C:/"},
      {"PathParent", PathParent, u"a", u""},
      {"PathParent", PathParent, u"/a", u"/"},
      {"PathParent", PathParent, u"C:\\a", u"C:/"},
      {"PathParent", PathParent, u"//h/a", u"//h/"},
      {"PathParent", PathParent, u"a/b/c", u"a/b"},
      {"PathParent", PathParent, u"a/b/", u"a/b"},
      {"PathParent", PathParent, u".", u"."},
      {"PathParent", PathParent, u"..", u".."},
      {"PathParent", PathParent, u"//h", u"//h/"},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(Units(c.function(S(c.input))), c.expected)
        << c.name << " of " << ToBytes(S(c.input));
  }
}

TEST(PathFunctions, RootTests) {
  const struct {
    std::u16string path;
    Int root, absolute;
  } cases[] = {
      {u"/", 1, 1},     {u"C:/", 1, 1}, {u"//h/", 1, 1}, {u"", 0, 0},
      {u"/a", 0, 1},    {u"//h", 0, 0}, {u"C:", 0, 0},   {u"a", 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsRootPath(S(c.path)), c.root) << ToBytes(S(c.path));
    EXPECT_EQ(IsAbsolutePath(S(c.path)), c.absolute) << ToBytes(S(c.path));
  }
}

using AbsolutePathTest = testing::InTempDir;

// On Windows the working directory starts with a drive ("C:"): a path
// from "/" takes it first, and CurrentDrive gives its letter.
TEST_F(AbsolutePathTest, ResolvesDotsAsText) {
  std::u16string here = Here(), up = Units(testing::Name(dir_.Path().parent_path()));
  for (std::u16string* path : {&here, &up}) std::replace(path->begin(), path->end(), u'\\', u'/');
  const bool hasDrive = here.size() > 1 && here[1] == u':';
  const std::u16string drive = hasDrive ? here.substr(0, 2) : u"";
  const struct {
    std::u16string path, expected;
  } cases[] = {
      {u"x", here + u"/x"},
      {u"./x/./y/", here + u"/x/y"},
      {u"a\\..\\b", here + u"/b"},
      {u"..", up},
      {u"/a/../b", drive + u"/b"},
      {u"/..", drive + u"/"},
      {u"C:/a/../..", u"C:/"},
      {u"C:/../../x", u"C:/x"},
      {u"C:a", u"C:/a"},
      {u"C:\\a\\.\\b", u"C:/a/b"},
      {u"//host/a/../../b", u"//host/b"},
      {u"//host", u"//host/"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Units(AbsolutePath(S(c.path))), c.expected) << ToBytes(S(c.path));
  }
  EXPECT_EQ(Units(WorkingDir()), here);
  EXPECT_EQ(Units(CurrentDrive()), hasDrive ? drive.substr(0, 1) : u"");
#ifdef _WIN32
  EXPECT_TRUE(hasDrive) << ToBytes(S(here));
#endif
}

// A colon in a directory name does not make the directory a drive.
TEST_F(AbsolutePathTest, AColonInTheWorkingDirectoryIsNoDrive) {
#ifdef _WIN32
  GTEST_SKIP() << "no name holds a colon on Windows";
#endif
  std::filesystem::create_directory("a:b");
  std::filesystem::current_path("a:b");
  EXPECT_EQ(Units(CurrentDrive()), u"");
  EXPECT_EQ(Units(AbsolutePath("/x"_s)), u"/x");
}

}  // namespace
}  // namespace corvid
