// Tests for the directory handles of the platform layer: a walk from
// handle to child handle never passes through a symbolic link.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "runtime/platform_fs.h"
#include "support/test_support.h"

namespace corvid {
namespace {

namespace fs = std::filesystem;
using platform::DirectoryHandle;
using platform::EntryKind;

// The moment a tree removal fears: it has seen "sub" as a directory, and
// before it steps in, "sub" becomes a link to a directory outside. On
// Windows the link may be any reparse point.
class DirectoryHandleSwap : public ::testing::TestWithParam<testing::LinkKind> {};

TEST_P(DirectoryHandleSwap, AChildSwappedForALinkIsNeitherEnteredNorRemoved) {
  testing::TempDir dir;
  fs::create_directories(dir.Path() / "tree/sub");
  fs::create_directory(dir.Path() / "outside");
  dir.Write("outside/keep", "kept");
  DirectoryHandle tree = DirectoryHandle::Open((dir.Path() / "tree").u16string());
  ASSERT_TRUE(tree.IsOpen());
  EXPECT_EQ(tree.Names(), std::vector<std::u16string>{u"sub"});
  EXPECT_EQ(tree.ChildKind(u"sub"), EntryKind::Directory);

  fs::remove(dir.Path() / "tree/sub");
  if (auto why = testing::MakeLink(GetParam(), dir.Path() / "outside", dir.Path() / "tree/sub", true); !why.empty())
    GTEST_SKIP() << why;
  EXPECT_FALSE(tree.OpenChild(u"sub").IsOpen());
  EXPECT_EQ(tree.ChildKind(u"sub"), EntryKind::Link);
  EXPECT_FALSE(tree.RemoveChild(u"sub", true));
  EXPECT_FALSE(DirectoryHandle::Open((dir.Path() / "tree/sub").u16string()).IsOpen());
  EXPECT_EQ(testing::ReadFileBytes(dir.Path() / "outside/keep"), "kept");
  // Wine cannot remove a Unix symbolic link to a directory at all.
  EXPECT_EQ(tree.RemoveChild(u"sub", false), GetParam() != testing::LinkKind::UnixSymbolic);
  EXPECT_TRUE(fs::exists(dir.Path() / "outside/keep"));
}

std::string KindName(const ::testing::TestParamInfo<testing::LinkKind>& info) {
  return testing::LinkKindName(info.param);
}

#ifdef _WIN32
INSTANTIATE_TEST_SUITE_P(EachKind, DirectoryHandleSwap,
                         ::testing::Values(testing::LinkKind::Symbolic, testing::LinkKind::Junction,
                                           testing::LinkKind::UnixSymbolic),
                         KindName);
#else
INSTANTIATE_TEST_SUITE_P(EachKind, DirectoryHandleSwap, ::testing::Values(testing::LinkKind::Symbolic), KindName);
#endif

}  // namespace
}  // namespace corvid
