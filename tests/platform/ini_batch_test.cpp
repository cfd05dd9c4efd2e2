// Several keys of one section written in one replacement of the file.
#include <gtest/gtest.h>

#include <string>

#include "core/platform/ini.h"
#include "platform/temp_folder.h"

namespace bms {
namespace {

TEST(IniBatch, SameResultAsOneByOneAndAllOrNothing) {
  testing::TempFolder tmp;
  const std::string original = "; notes\r\n[other]\r\nKeep=1\r\n[Block_C]\r\ncell_serial = 9\r\nExtra=x\r\n";
  tmp.write("batch.ini", original);
  tmp.write("single.ini", original);
  const std::vector<std::pair<std::string, std::string>> entries = {{"Cell_Serial", "13"}, {"New_Key", "-200"}, {"Another", ""}};
  ASSERT_TRUE(WritePrivateProfileStrings("Block_C", entries, tmp / "batch.ini"));
  for (const auto& [k, v] : entries) ASSERT_TRUE(WritePrivateProfileString("Block_C", k, v, tmp / "single.ini"));
  EXPECT_EQ(tmp.read("batch.ini"), tmp.read("single.ini"));
  EXPECT_EQ(tmp.read("batch.ini"), "; notes\r\n[other]\r\nKeep=1\r\n[Block_C]\r\ncell_serial = 13\r\nExtra=x\r\nNew_Key=-200\r\nAnother=\r\n");

  // One value that cannot be stored (it would forge a key): nothing changes.
  const std::string before = tmp.read("batch.ini");
  std::string why;
  EXPECT_FALSE(WritePrivateProfileStrings("Block_C", {{"Cell_Serial", "14"}, {"Bad", "1\r\nCell_Parallel=99"}}, tmp / "batch.ini", &why));
  EXPECT_NE(why.find("line break"), std::string::npos) << why;
  EXPECT_EQ(tmp.read("batch.ini"), before);

  // A missing file is created with its section.
  ASSERT_TRUE(WritePrivateProfileStrings("Block_C", {{"A", "1"}, {"B", "2"}}, tmp / "new.ini"));
  EXPECT_EQ(tmp.read("new.ini"), "[Block_C]\r\nA=1\r\nB=2\r\n");
}

}  // namespace
}  // namespace bms
