#include "burn/burn_tree.h"

#include <gtest/gtest.h>

#include "platform/last_error.h"

using lyr::GetLastError;
using lyr::burn::BURN_FILE;
using lyr::burn::CBurnTree;

namespace {

BURN_FILE File(uint32_t entry, const std::string& name, uint32_t size = 1000) {
  BURN_FILE f;
  f.entry = entry;
  f.name = name;
  f.size = size;
  return f;
}

std::vector<std::string> DiscPaths(const CBurnTree& tree) {
  std::vector<BURN_FILE> files;
  tree.CollectFiles(&files);
  std::vector<std::string> paths;
  for (const auto& f : files) paths.push_back(f.disc_path);
  return paths;
}

// A named item's outcome without its name.
lyr::Status Outcome(const lyr::Result<std::string>& named) {
  if (named.ok()) return {};
  return named.error();
}

}  // namespace

TEST(BurnTree, NamesTakenInAFolderGetNumberedAndIgnoreCase) {
  CBurnTree tree;
  std::string name;
  ASSERT_TRUE(tree.CreateFolder("New Directory", &name));
  EXPECT_EQ(name, "New Directory");
  ASSERT_TRUE(tree.CreateFolder("new directory/", &name));
  EXPECT_EQ(name, "new directory(0)");
  ASSERT_TRUE(tree.CreateFolder("New Directory", &name));
  EXPECT_EQ(name, "New Directory(1)");

  ASSERT_TRUE(tree.AddFile("", File(1, "take"), &name));
  EXPECT_EQ(name, "take");
  ASSERT_TRUE(tree.AddFile("", File(2, "TAKE"), &name));
  EXPECT_EQ(name, "TAKE(0)");
  ASSERT_TRUE(tree.AddFile("", File(3, "a.wav"), &name));
  ASSERT_TRUE(tree.AddFile("", File(4, "A.wav"), &name));
  EXPECT_EQ(name, "A(0).wav");
  // A folder's name counts for files too.
  ASSERT_TRUE(tree.AddFile("", File(5, "NEW DIRECTORY"), &name));
  EXPECT_EQ(name, "NEW DIRECTORY(2)");
}

TEST(BurnTree, OperationsFailWithTheirErrorCodes) {
  CBurnTree tree;
  ASSERT_TRUE(tree.CreateFolder("A"));
  ASSERT_TRUE(tree.CreateFolder("B"));
  ASSERT_TRUE(tree.AddFile("/A", File(7, "take1")));
  ASSERT_TRUE(tree.AddFile("", File(8, "take2")));
  ASSERT_TRUE(tree.AddFile("", File(9, "take3")));
  const struct {
    const char* what;
    int result;
    uint32_t error;
  } cases[] = {
      {"folder name with ?", tree.CreateFolder("what?"), 10},
      {"file name with :", tree.AddFile("", File(10, "a:b")), 10},
      {"file into a missing folder", tree.AddFile("/Z", File(10, "x")), 3},
      {"same recording twice in a folder", tree.AddFile("/A", File(7, "other")), 183},
      {"rename missing folder", tree.RenameFolder("Z", "Y"), 3},
      {"rename folder to a sibling's name", tree.RenameFolder("A", "b"), 183},
      {"rename folder to a file's name", tree.RenameFolder("A", "TAKE2"), 183},
      {"rename folder with |", tree.RenameFolder("A", "x|y"), 10},
      {"rename file with *", tree.RenameFile("take2", 8, "x*"), 10},
      {"rename missing file", tree.RenameFile("take9", 99, "x"), 3},
      {"rename file to a sibling's name", tree.RenameFile("take2", 8, "Take3"), 183},
      {"rename file to a folder's name", tree.RenameFile("take2", 8, "a"), 183},
      {"delete missing folder", tree.DeleteFolder("Z"), 3},
      {"delete missing file", tree.DeleteFile("", 99), 3},
      {"open missing folder", tree.SetCurrentFolder("/A/Z"), 3},
  };
  for (const auto& c : cases) {
    lyr::SetLastError(0);
    EXPECT_EQ(c.result, 0) << c.what;
  }
  // The codes, each read right after its own call.
  lyr::SetLastError(0);
  EXPECT_FALSE(tree.RenameFile("take2", 8, "take3"));
  EXPECT_EQ(GetLastError(), 183u);
  EXPECT_FALSE(tree.RenameFolder("A", "B"));
  EXPECT_EQ(GetLastError(), 183u);
  EXPECT_FALSE(tree.RenameFolder("A", "a?"));
  EXPECT_EQ(GetLastError(), 10u);
  EXPECT_FALSE(tree.RenameFile("take2", 8, "x/y"));
  EXPECT_EQ(GetLastError(), 10u);
  EXPECT_FALSE(tree.RenameFile("zz", 42, "x"));
  EXPECT_EQ(GetLastError(), 3u);
  EXPECT_FALSE(tree.AddFile("/nowhere", File(1, "x")));
  EXPECT_EQ(GetLastError(), 3u);
  // A rename to its own name in another case is allowed.
  EXPECT_TRUE(tree.RenameFile("take2", 8, "TAKE2"));
  EXPECT_TRUE(tree.RenameFolder("A", "a"));
  // The same recording in another folder is fine.
  EXPECT_TRUE(tree.AddFile("/B/", File(7, "take1")));
}

// The programs' face of the tree: each failure's code is the last error the
// tree set, each success gives the name the item got.
TEST(BurnLayout, FailuresCarryTheTreesCodeAndSuccessesTheName) {
  CBurnTree tree;
  lyr::burn::BurnLayout layout(tree);
  ASSERT_EQ(layout.CreateFolder("A").value(), "A");
  ASSERT_EQ(layout.CreateFolder("a").value(), "a(0)");
  ASSERT_EQ(layout.AddFile("/A", File(7, "take")).value(), "take");
  ASSERT_EQ(layout.AddFile("", File(8, "take")).value(), "take");
  ASSERT_EQ(layout.AddFile("", File(9, "TAKE")).value(), "TAKE(0)");
  // One failure of each kind: the face passes the tree's code through.
  const auto code = [](const lyr::Status& status) { return status.ok() ? 0u : status.error().code; };
  EXPECT_EQ(code(Outcome(layout.CreateFolder("what?"))), 10u);
  EXPECT_EQ(code(Outcome(layout.AddFile("/Z", File(10, "x")))), 3u);
  EXPECT_EQ(code(Outcome(layout.AddFile("/A", File(7, "other")))), 183u);
  EXPECT_EQ(code(layout.RenameFolder("A", "A(0)")), 183u);
  EXPECT_EQ(code(layout.DeleteFile("", 99)), 3u);
  EXPECT_TRUE(layout.RenameFile("take", 8, "Take").ok());
  EXPECT_TRUE(layout.SetCurrentFolder("/A/").ok());
  EXPECT_TRUE(layout.DeleteFile("", 7).ok());
}

TEST(BurnTree, PathsTotalsAndCollectOrder) {
  CBurnTree tree;
  ASSERT_TRUE(tree.AddFile("", File(1, "root1", 100)));
  ASSERT_TRUE(tree.CreateFolder("A"));
  ASSERT_TRUE(tree.SetCurrentFolder("/A/"));
  ASSERT_TRUE(tree.CreateFolder("B"));
  ASSERT_TRUE(tree.AddFile("", File(2, "take1", 200)));
  ASSERT_TRUE(tree.AddFile("/A/B", File(3, "deep", 400)));
  ASSERT_TRUE(tree.AddFile("", File(4, "take2", 800)));
  ASSERT_TRUE(tree.SetCurrentFolder("/"));
  ASSERT_TRUE(tree.CreateFolder("C"));
  ASSERT_TRUE(tree.AddFile("/C", File(1, "again", 100)));

  EXPECT_EQ(CBurnTree::GetFolderPath(tree.FindFolder("/A/B")), "/A/B/");
  EXPECT_EQ(CBurnTree::GetFolderPath(tree.FindFolder("/")), "/");
  EXPECT_EQ(CBurnTree::GetFolderPath(tree.FindFolder("a/b/")), "/A/B/");
  EXPECT_EQ(DiscPaths(tree),
            (std::vector<std::string>{"/root1", "/A/take1", "/A/take2", "/A/B/deep", "/C/again"}));
  EXPECT_EQ(tree.GetFileCount(), 5u);
  EXPECT_EQ(tree.GetTotalSize(), 1600u);

  ASSERT_TRUE(tree.DeleteFolder("a"));  // with its subtree
  EXPECT_EQ(tree.GetFileCount(), 2u);
  EXPECT_EQ(tree.GetTotalSize(), 200u);
  EXPECT_EQ(tree.FindFolder("/A/B"), nullptr);
  ASSERT_TRUE(tree.DeleteFile("/C", 1));
  EXPECT_EQ(tree.GetFileCount(), 1u);
  EXPECT_EQ(tree.GetTotalSize(), 100u);

  ASSERT_TRUE(tree.SetCurrentFolder("/C"));
  tree.Clear();
  EXPECT_EQ(tree.GetFileCount(), 0u);
  EXPECT_EQ(tree.GetTotalSize(), 0u);
  EXPECT_EQ(&tree.CurrentFolder(), &tree.Root());
  EXPECT_TRUE(DiscPaths(tree).empty());
}
