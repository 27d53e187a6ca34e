#include "ui/hscroll_listbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/process.h"

namespace morlane {
namespace {

// Ten pixels per character make widths easy to read: "abc" is 30 + 3.
class ListBoxTest : public ::testing::Test {
 protected:
  FixedWidthMeasurer measurer{10};
  CHScrollListBox list{&measurer};

  int Append(const std::string& text) { return list.InsertString(list.GetCount(), text); }
};

TEST_F(ListBoxTest, AppendWidensToTextExtentPlusThreeAndSelectsTheNewLine) {
  Append("abc");
  EXPECT_EQ(list.GetCount(), 1);
  EXPECT_EQ(list.GetCurSel(), 0);
  EXPECT_EQ(list.GetHorizontalExtent(), 33);

  Append("a");  // narrower: the extent stays
  EXPECT_EQ(list.GetHorizontalExtent(), 33);
  EXPECT_EQ(list.GetCurSel(), 1);
  Append("abcdefgh");
  EXPECT_EQ(list.GetHorizontalExtent(), 83);
}

TEST_F(ListBoxTest, DeleteRecomputesOverTheRemainingLines) {
  Append("abcdefgh");
  Append("abc");
  Append("abcde");
  EXPECT_EQ(list.DeleteString(0), 2);
  EXPECT_EQ(list.GetHorizontalExtent(), 53);
  list.DeleteString(1);
  list.DeleteString(0);
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(list.GetHorizontalExtent(), 0);
  EXPECT_EQ(list.DeleteString(0), CHScrollListBox::kErr);
}

TEST_F(ListBoxTest, ResetEmptiesAndZeroesTheExtent) {
  Append("abcdef");
  list.ResetContent();
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(list.GetHorizontalExtent(), 0);
  EXPECT_EQ(list.GetCurSel(), -1);
  Append("x");
  EXPECT_EQ(list.GetText(0), "x");
}

TEST_F(ListBoxTest, InsertKeepsArrivalOrderDespiteTheSortStyle) {
  Append("zeta");
  Append("alpha");
  Append("alpha");
  ASSERT_EQ(list.GetCount(), 3);
  EXPECT_EQ(list.GetText(0), "zeta");
  EXPECT_EQ(list.GetText(1), "alpha");
  EXPECT_EQ(list.GetText(2), "alpha");
  // Add-string requests do follow the sort style.
  CHScrollListBox sorted{&measurer};
  sorted.AddString("beta");
  sorted.AddString("Alpha");
  sorted.AddString("gamma");
  EXPECT_EQ(sorted.GetText(0), "Alpha");
  EXPECT_EQ(sorted.GetText(1), "beta");
  EXPECT_EQ(sorted.GetText(2), "gamma");
}

TEST_F(ListBoxTest, AFailedInsertStillSelectsTheLastLine) {
  Append("one");
  Append("two");
  list.SetCurSel(0);
  EXPECT_EQ(list.InsertString(7, "bad"), CHScrollListBox::kErr);
  EXPECT_EQ(list.GetCurSel(), 1);
  EXPECT_EQ(list.GetHorizontalExtent(), 33);

  list.SetCapacity(2);
  EXPECT_EQ(Append("wider than anything"), CHScrollListBox::kErrSpace);
  EXPECT_EQ(list.GetHorizontalExtent(), 33);
}

TEST_F(ListBoxTest, ControlCharactersStayInTheLine) {
  Append("Flash Erasing...\n");
  EXPECT_EQ(list.GetCount(), 1);
  EXPECT_EQ(list.GetText(0), "Flash Erasing...\n");
  EXPECT_EQ(list.GetHorizontalExtent(), 173);
}

TEST_F(ListBoxTest, TabStopStyleMeasuresTabbedTextPlusTwo) {
  list.SetUseTabStops(true);
  Append("abc");
  EXPECT_EQ(list.GetHorizontalExtent(), 32);
}

TEST_F(ListBoxTest, DirectoryListingAddsMatchingNamesAndRecomputes) {
  test::TempDir dir;
  dir.Write("master.bin", "x");
  dir.Write("slave.bin", "x");
  dir.Write("notes.txt", "x");
  auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  int last = list.Dir("*.bin");
  std::filesystem::current_path(previous);
  EXPECT_EQ(last, 1);
  ASSERT_EQ(list.GetCount(), 2);
  EXPECT_EQ(list.GetText(0), "master.bin");
  EXPECT_EQ(list.GetText(1), "slave.bin");
  EXPECT_EQ(list.GetHorizontalExtent(), 103);
}

TEST_F(ListBoxTest, ManyDeletesKeepTextIntact) {
  for (int i = 0; i < 200; ++i) Append("line " + std::to_string(i));
  for (int i = 0; i < 150; ++i) list.DeleteString(0);
  ASSERT_EQ(list.GetCount(), 50);
  EXPECT_EQ(list.GetText(0), "line 150");
  EXPECT_EQ(list.GetText(49), "line 199");
}

}  // namespace
}  // namespace morlane
