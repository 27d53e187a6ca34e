// The command table and the check boxes that choose its entries.
#include <gmock/gmock.h>

#include "console/command_table.h"
#include "console_fixture.h"

namespace morlane::test {
namespace {

using ::testing::ElementsAre;

const char* const kTexts[] = {"Q1\r",  "Lf?\r", "Bl?\r", "V\r",  "V2\r",  "V3\r", "BTUN\r",
                              "Si?\r", "BRR\r", "UAS\r", "CF\r", "CF2\r", "FWV\r"};

TEST_F(ConsoleTest, TableIsFilledAndFullyEnabledWhateverTheBoxesShow) {
  const CommandTable& table = dialog->console.Table();
  for (int i = 0; i < CommandTable::kEntries; ++i) {
    EXPECT_EQ(table.Text(i), kTexts[i]) << i;
    EXPECT_TRUE(table.Enabled(i)) << i;
  }
  EXPECT_EQ(table.Name(6), "BTUN");
  EXPECT_EQ(window.GetCheck(ctl::kCheckV2), 0);
}

TEST_F(ConsoleTest, StartTakesTheBoxesAndEntryThreeFollowsAuto) {
  CheckOnly({ctl::kModeAuto, ctl::kCheckV3, ctl::kCheckFwv});
  dialog->console.PrepareCommandTest();
  EXPECT_THAT(window.LogLines(), ElementsAre("Begin Auto Send MCU command"));
  std::vector<int> enabled;
  for (int i = 0; i < CommandTable::kEntries; ++i) {
    if (dialog->console.Table().Enabled(i)) enabled.push_back(i);
  }
  EXPECT_THAT(enabled, ElementsAre(3, 5, 12));
}

TEST(CommandNames, AreTheCommandsWithoutTheirReturn) {
  EXPECT_EQ(EntryNamed("Q1"), 0);
  EXPECT_EQ(EntryNamed("V"), 3);
  EXPECT_EQ(EntryNamed("FWV"), 12);
  EXPECT_EQ(EntryNamed("Auto"), -1);
  EXPECT_EQ(EntryNamed("q1"), -1);
  EXPECT_EQ(EntryNamed(""), -1);
  EXPECT_EQ(CheckBoxOfEntry(3), ctl::kModeAuto);
  EXPECT_EQ(CheckBoxOfEntry(9), ctl::kCheckUas);
  EXPECT_EQ(CheckBoxOfEntry(13), 0);
}

}  // namespace
}  // namespace morlane::test
