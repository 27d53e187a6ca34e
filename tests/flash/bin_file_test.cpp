// Reading the section table of inverter images, and judging it before anything is sent.
#include "flash/bin_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "flash/test_image_maker.h"
#include "support/process.h"

namespace morlane {
namespace {

using test::MakeInverterImage;
using test::Words;

class BinFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::vector<uint8_t>& bytes) {
    dir.Write("image.bin", bytes);
    return dir.File("image.bin");
  }
  test::TempDir dir;
};

TEST_F(BinFileTest, FirstTwoBytesMarkAnInverterImage) {
  EXPECT_EQ(CheckBinFile(Write({0x08, 0xAA})), 1);
  EXPECT_EQ(CheckBinFile(Write({0xAA, 0x08, 0x00})), 0);
  EXPECT_EQ(CheckBinFile(Write({0x08})), 0);
  EXPECT_EQ(CheckBinFile(dir.File("missing.bin")), 0);
  EXPECT_EQ(CheckBinFile(dir.Path()), 0);  // a directory is no image
}

TEST_F(BinFileTest, SectionsAreReadInFileOrderWithTheirOffsets) {
  std::string path =
      Write(MakeInverterImage({{0x00012345, Words(3)}, {0x00000010, {}}, {0x20, Words(1)}}));
  SectionTable table;
  ASSERT_EQ(ReadSections(path, table), 3);
  EXPECT_EQ(table.sections[0].address, 0x00012345u);
  EXPECT_EQ(table.sections[0].start, 28u);
  EXPECT_EQ(table.sections[0].end, 34u);
  EXPECT_EQ(table.sections[1].start, 40u);
  EXPECT_EQ(table.sections[1].end, 40u);
  EXPECT_EQ(table.sections[2].address, 0x20u);
  EXPECT_EQ(table.sections[2].Words(), 1u);
  EXPECT_EQ(SurveyImage(path).verdict, ImageVerdict::Sound);
}

TEST_F(BinFileTest, ShortFilesHaveNoSections) {
  SectionTable table;
  std::vector<uint8_t> image(22, 0);
  image[0] = 0x08;
  image[1] = 0xAA;
  EXPECT_EQ(ReadSections(Write(image), table), 0);
  image.insert(image.end(), {0x00, 0x00});  // the word count 0 alone
  EXPECT_EQ(ReadSections(Write(image), table), 0);
  EXPECT_EQ(SurveyImage(Write(image)).verdict, ImageVerdict::NoSections);
  EXPECT_EQ(SurveyImage(dir.File("missing.bin")).verdict, ImageVerdict::Unreadable);
  EXPECT_EQ(SurveyImage(Write({0x07, 0xAA, 0, 0})).verdict, ImageVerdict::NotAnImage);
}

TEST_F(BinFileTest, MoreThan24SectionsFillTheTableAndAreRefused) {
  std::vector<test::ImageSection> sections;
  for (uint32_t i = 0; i < 30; ++i) sections.push_back({i * 4, Words(2)});
  std::string path = Write(MakeInverterImage(sections));
  SectionTable table;
  EXPECT_EQ(ReadSections(path, table), 24);
  EXPECT_EQ(table.sections[23].address, 92u);
  ImageSurvey survey = SurveyImage(path);
  EXPECT_EQ(survey.verdict, ImageVerdict::TooManySections);
  EXPECT_EQ(survey.sections.size(), 25u);

  sections.resize(24);
  EXPECT_EQ(SurveyImage(Write(MakeInverterImage(sections))).verdict, ImageVerdict::Sound);
}

TEST_F(BinFileTest, SectionRunningPastTheEndIsRefused) {
  std::vector<uint8_t> image = MakeInverterImage({{0, Words(4)}, {0x100, Words(10)}}, false);
  image.resize(image.size() - 2);  // the last word is missing
  ImageSurvey survey = SurveyImage(Write(image));
  EXPECT_EQ(survey.verdict, ImageVerdict::SectionPastEnd);
  EXPECT_EQ(survey.badSection, 1);

  // A tail announcing words without the address to put them at is no better.
  image = MakeInverterImage({{0, Words(4)}}, false);
  image.insert(image.end(), {0x00, 0x05, 0x00, 0x00});
  EXPECT_EQ(SurveyImage(Write(image)).verdict, ImageVerdict::SectionPastEnd);
  // A tail of three bytes with a count of 0 just ends the list.
  image = MakeInverterImage({{0, Words(4)}}, false);
  image.insert(image.end(), {0x00, 0x00, 0x00});
  EXPECT_EQ(SurveyImage(Write(image)).verdict, ImageVerdict::Sound);
}

}  // namespace
}  // namespace morlane
