#include "core/platform/files.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/temp_folder.h"

namespace bms {
namespace {

using testing::TempFolder;

TEST(SanitizeFileNamePart, NothingLeavesItsFolder) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"../../etc/passwd", "_._etc_passwd"},
      {"a/b", "a_b"},
      {"", ""},
      {"..", ""},
      {".", ""},
      {".hidden", "hidden"},
      {"a...b", "a.b"},
      {"name.", "name"},
      {"SN 0123-AB_x.v2", "SN_0123-AB_x.v2"},
      {"BC123\r\n", "BC123"},  // a scanner's line end
      {"a\\b:c*d?e|f", "a_b_c_d_e_f"},
      {"\xE6\xB8\xAC\xE8\xA9\xA6"
       "1",
       "__1"},  // one mark per character
      {std::string(300, 'x'), std::string(kMaxFileNamePart, 'x')},
      {std::string("a\0b", 3), "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    const std::string out = SanitizeFileNamePart(c.in);
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(out.find('/'), std::string::npos);
    EXPECT_EQ(out.find(".."), std::string::npos);
    EXPECT_TRUE(out.empty() || out.front() != '.');
  }
}

TEST(Folders, MakeDirectoriesCreatesParentsAndReportsWhatFailed) {
  TempFolder dir;
  EXPECT_TRUE(MakeDirectories(dir / "a/b/c/"));
  EXPECT_TRUE(FolderExists(dir / "a/b/c"));
  EXPECT_TRUE(MakeDirectories(dir / "a/b/c")) << "an existing folder is fine";
  dir.write("file", "x");
  std::string why;
  EXPECT_FALSE(MakeDirectories(dir / "file/sub", &why));
  EXPECT_NE(why.find("file"), std::string::npos) << why;
  EXPECT_FALSE(MakeDirectories(dir / "file", &why)) << "a file is no folder";
}

TEST(Folders, ExecutableFolderHoldsTheRunningProgram) {
  const std::string folder = ExecutableFolder("ignored");
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(folder.front(), '/');
  EXPECT_TRUE(FileExists(ExecutablePath("ignored")));
  EXPECT_EQ(ExecutablePath("ignored").rfind(folder, 0), 0u);
}

TEST(Folders, DataFolderFallsBackToTheUsersDataFolderAndSaysSo) {
  TempFolder dir;
  DataFolderChoice c = ChooseDataFolderReport(dir.path());
  EXPECT_EQ(c.folder, dir.path() + "/");
  EXPECT_FALSE(c.fallback);
  EXPECT_TRUE(c.note.empty());

  const char* old = getenv("XDG_DATA_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", (dir / "xdg").c_str(), 1);
  c = ChooseDataFolderReport(dir / "no/such/app/folder");
  if (old)
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else
    unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(c.folder, dir / "xdg/bmsmon/");
  EXPECT_TRUE(c.fallback);
  EXPECT_TRUE(FolderExists(c.folder));
  EXPECT_NE(c.note.find(c.folder), std::string::npos) << c.note;
  EXPECT_NE(c.note.find("no/such/app/folder"), std::string::npos) << c.note;
}

TEST(WriteFileAtomic, ReplacesWholeFilesAndLeavesNothingHalfWritten) {
  TempFolder dir;
  std::string why;
  ASSERT_TRUE(WriteFileAtomic(dir / "r.txt", "first\r\n", &why)) << why;
  EXPECT_EQ(dir.read("r.txt"), "first\r\n");
  ASSERT_EQ(chmod((dir / "r.txt").c_str(), 0600), 0);
  ASSERT_TRUE(WriteFileAtomic(dir / "r.txt", "second"));
  EXPECT_EQ(dir.read("r.txt"), "second");
  struct stat st {};
  ASSERT_EQ(stat((dir / "r.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A link stays a link; its target gets the text.
  std::filesystem::create_symlink("r.txt", dir / "link.txt");
  ASSERT_TRUE(WriteFileAtomic(dir / "link.txt", "third"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.txt"));
  EXPECT_EQ(dir.read("r.txt"), "third");

  EXPECT_FALSE(WriteFileAtomic(dir / "missing/x.txt", "y", &why));
  EXPECT_NE(why.find("missing/x.txt"), std::string::npos) << why;
  EXPECT_FALSE(WriteFileAtomic(dir.path(), "y", &why)) << "a folder is not replaced";

  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 2) << "no temporary file may stay behind";
}

}  // namespace
}  // namespace bms
