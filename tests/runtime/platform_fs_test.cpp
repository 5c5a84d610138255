// Tests for the directory handles of the platform layer: a walk from
// handle to child handle never passes through a symbolic link.
#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/platform_fs.h"
#include "support/test_support.h"

namespace corvid {
namespace {

namespace fs = std::filesystem;
using platform::DirectoryHandle;
using platform::EntryKind;

// The moment a tree removal fears: it has seen "sub" as a directory, and
// before it steps in, "sub" becomes a link to a directory outside.
TEST(DirectoryHandle, AChildSwappedForALinkIsNeitherEnteredNorRemoved) {
  testing::TempDir dir;
  fs::create_directories(dir.Path() / "tree/sub");
  fs::create_directory(dir.Path() / "outside");
  dir.Write("outside/keep", "kept");
  DirectoryHandle tree = DirectoryHandle::Open((dir.Path() / "tree").u16string());
  ASSERT_TRUE(tree.IsOpen());
  EXPECT_EQ(tree.Names(), std::vector<std::u16string>{u"sub"});
  EXPECT_EQ(tree.ChildKind(u"sub"), EntryKind::Directory);

  fs::remove(dir.Path() / "tree/sub");
  fs::create_directory_symlink(dir.Path() / "outside", dir.Path() / "tree/sub");
  EXPECT_FALSE(tree.OpenChild(u"sub").IsOpen());
  EXPECT_EQ(tree.ChildKind(u"sub"), EntryKind::Link);
  EXPECT_FALSE(tree.RemoveChild(u"sub", true));
  EXPECT_FALSE(DirectoryHandle::Open((dir.Path() / "tree/sub").u16string()).IsOpen());
  EXPECT_EQ(testing::ReadFileBytes(dir.Path() / "outside/keep"), "kept");
  EXPECT_TRUE(tree.RemoveChild(u"sub", false));
  EXPECT_TRUE(fs::exists(dir.Path() / "outside/keep"));
}

}  // namespace
}  // namespace corvid
