#include "core/platform/ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/temp_folder.h"

namespace bms {
namespace {

using testing::TempFolder;

const std::string kPlan =
    "; test plan\r\n"
    "Orphan=before any section\r\n"
    "[Set]\r\n"
    "  BarcodeMode = 2  \r\n"
    "T1T2TestDelay=500\r\n"
    "Quoted=\"  padded  \"\r\n"
    "Inline=5 ; stays part of the value\r\n"
    "Empty=\r\n"
    ";Commented=9\r\n"
    "Dup=first\r\n"
    "Dup=second\r\n"
    "\r\n"
    "[ Check ]\r\n"
    "VMax=4200\r\n"
    "Hex=0x1F\r\n"
    "Neg= -7\r\n"
    "Junk=12abc\r\n"
    "Word=abc\r\n"
    "[Long]\r\n"
    "V=" +
    std::string(600, 'a') + "\r\n";

struct ReadCase {
  const char* section;
  const char* key;
  std::string def;
  std::string expected;
};

class IniReadTest : public ::testing::TestWithParam<bool> {};  // param: LF line ends

TEST_P(IniReadTest, LooksUpLikeThePrivateProfileFunctions) {
  TempFolder dir;
  std::string text = kPlan;
  if (GetParam()) {
    for (size_t p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", p)) text.erase(p, 1);
  }
  dir.write("plan.ini", text);
  const std::string path = dir / "plan.ini";

  const ReadCase cases[] = {
      {"Set", "BarcodeMode", "-1", "2"},
      {"SET", "barcodemode", "-1", "2"},
      {" Set ", "T1T2TestDelay ", "0", "500"},  // blanks around names in the call
      {"Set", "Quoted", "", "  padded  "},
      {"Set", "Inline", "", "5 ; stays part of the value"},
      {"Set", "Empty", "x", ""},  // present but empty: no default
      {"Set", "Commented", "none", "none"},
      {"Set", "Dup", "", "first"},
      {"Set", "Missing", "def  ", "def"},  // trailing blanks of the default go
      {"check", "VMAX", "0", "4200"},
      {"Check", "T1T2TestDelay", "d", "d"},  // keys belong to their own section only
      {"Nope", "VMax", "d", "d"},
      {"", "Orphan", "d", "d"},
      {"Long", "V", "", std::string(511, 'a')},
      {"Set", "Missing", std::string(600, 'b'), std::string(511, 'b')},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    EXPECT_EQ(GetPrivateProfileString(c.section, c.key, c.def, path), c.expected);
  }
  EXPECT_EQ(GetPrivateProfileString("Set", "BarcodeMode", "dflt", dir / "missing.ini"), "dflt");

  struct IntCase {
    const char* section;
    const char* key;
    int expected;
  };
  const IntCase ints[] = {
      {"Set", "BarcodeMode", 2}, {"Check", "Hex", 31}, {"Check", "Neg", -7}, {"Check", "Junk", 12}, {"Check", "Word", 0}, {"Set", "Empty", -1},  // empty value: the default
      {"Set", "Missing", -1},
  };
  for (const IntCase& c : ints) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(GetPrivateProfileInt(c.section, c.key, -1, path), c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(LineEnds, IniReadTest, ::testing::Values(false, true), [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "LF" : "CRLF"; });

struct WriteCase {
  const char* what;
  std::string before;  // "\x01" marks: no file
  const char* section;
  const char* key;
  const char* value;
  std::string after;
};

TEST(IniWrite, ChangesOnlyWhatItMustByteForByte) {
  const std::string kNoFile = "\x01";
  const WriteCase cases[] = {
      {"creates the file", kNoFile, "Set", "Key", "V", "[Set]\r\nKey=V\r\n"},
      {"appends a new section", "[A]\r\nx=1\r\n", "B", "y", "2", "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n"},
      {"new section after a last line without line end", "[A]\r\nx=1", "B", "y", "2", "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n"},
      {"replaces in place, keeping comments and the rest", "; head\r\n[Set]\r\n  Key = old  \r\nOther=1\r\n[Next]\r\nKey=keep\r\n", " set ", "KEY ", "new",
       "; head\r\n[Set]\r\n  Key = new\r\nOther=1\r\n[Next]\r\nKey=keep\r\n"},
      {"appends at the end of its section", "[Set]\r\na=1\r\n\r\n; about Check\r\n[Check]\r\nb=2\r\n", "Set", "c", "3",
       "[Set]\r\na=1\r\nc=3\r\n\r\n; about Check\r\n[Check]\r\nb=2\r\n"},
      {"fills an empty section", "[Set]\r\n[X]\r\n", "Set", "a", "1", "[Set]\r\na=1\r\n[X]\r\n"},
      {"keeps LF line ends", "[Set]\na=1\n", "Set", "b", "2", "[Set]\na=1\nb=2\n"},
      {"keeps a last line without line end", "[Set]\r\na=1", "Set", "b", "2", "[Set]\r\na=1\r\nb=2"},
      {"replaces the last line without line end", "[Set]\r\na=1", "Set", "a", "22", "[Set]\r\na=22"},
      {"keeps an empty value's line", "[Set]\r\na=\r\nb=2\r\n", "Set", "a", "x", "[Set]\r\na=x\r\nb=2\r\n"},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder dir;
    if (c.before != kNoFile) dir.write("f.ini", c.before);
    std::string why;
    ASSERT_TRUE(WritePrivateProfileString(c.section, c.key, c.value, dir / "f.ini", &why)) << why;
    EXPECT_EQ(dir.read("f.ini"), c.after);
    EXPECT_EQ(GetPrivateProfileString(c.section, c.key, "?", dir / "f.ini"), c.value);
  }
}

TEST(IniWrite, RefusesWhatWouldCorruptTheFileAndLeavesItUntouched) {
  TempFolder dir;
  const std::string before = "[Set]\r\nBarcode=A1\r\n";
  dir.write("f.ini", before);
  struct Refusal {
    const char* section;
    const char* key;
    const char* value;
  };
  const Refusal cases[] = {
      {"Set", "Barcode", "X\r\n[Evil]\r\nk=v"},  // forged lines
      {"Set", "Bar\ncode", "1"},
      {"", "Barcode", "1"},
      {"Set", " ", "1"},
      {"Se]t", "k", "1"},
      {"Set", "a=b", "1"},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.key);
    std::string why;
    EXPECT_FALSE(WritePrivateProfileString(c.section, c.key, c.value, dir / "f.ini", &why));
    EXPECT_FALSE(why.empty());
  }
  EXPECT_EQ(dir.read("f.ini"), before);

  std::string why;
  EXPECT_FALSE(WritePrivateProfileString("Set", "k", "v", dir / "no_such_folder/f.ini", &why));
  EXPECT_NE(why.find("no_such_folder"), std::string::npos) << why;
}

TEST(IniWrite, ReplacesTheFileAtomicallyKeepingItsPermissions) {
  TempFolder dir;
  dir.write("f.ini", "[Set]\r\na=1\r\n");
  ASSERT_EQ(chmod((dir / "f.ini").c_str(), 0640), 0);
  ASSERT_TRUE(WritePrivateProfileString("Set", "a", "2", dir / "f.ini"));
  ASSERT_TRUE(WritePrivateProfileString("New", "b", "3", dir / "f.ini"));
  struct stat st {};
  ASSERT_EQ(stat((dir / "f.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_EQ(e.path().filename(), "f.ini") << "no temporary file may stay behind";
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

}  // namespace
}  // namespace bms

namespace bms {
namespace {

// A pipe with no writer, a device, a folder or a 50 MiB file as an INI file:
// refused at once with a message, read as missing, nothing hangs.
TEST(IniHostileFiles, AreRefusedAtOnceAndReadAsMissing) {
  testing::TempFolder dir;
  const std::string fifo = dir / "fifo.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string zero = dir / "zero.ini";
  ASSERT_EQ(::symlink("/dev/zero", zero.c_str()), 0);
  const std::string folder = dir / "folder.ini";
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  const std::string big = dir / "big.ini";
  dir.write("big.ini", "[Set]\r\nBarcodeMode=2\r\n");
  std::filesystem::resize_file(big, 50u * 1024 * 1024);  // sparse: costs no disk
  const struct {
    std::string path;
    const char* says;
  } cases[] = {{fifo, "pipe"}, {zero, "device"}, {folder, "folder"}, {big, "larger than 1024 KiB"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(GetPrivateProfileString("Set", "BarcodeMode", "dflt", c.path), "dflt");
    EXPECT_EQ(GetPrivateProfileInt("Set", "BarcodeMode", -1, c.path), -1);
    const std::string why = IniFileProblem(c.path);
    EXPECT_NE(why.find(c.says), std::string::npos) << why;
    EXPECT_NE(why.find(c.path), std::string::npos) << why;
  }
  EXPECT_EQ(IniFileProblem(dir / "missing.ini"), "");
}

}  // namespace
}  // namespace bms
