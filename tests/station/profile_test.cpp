// A station's profile: what it says, where relative paths lead, and every fault named by
// its line, so that a line's engineer finds the mistake without guessing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "station/profile.h"
#include "station/profile_init.h"
#include "support/process.h"

namespace morlane {
namespace {

using ::testing::HasSubstr;

// SHA-256 of the three bytes "abc".
const std::string kAbc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string Profile(const std::string& imageDigest, const std::string& extra = "") {
  return "station = \"line1-st3\"\n"
         "procedure = \"auto\"\n"
         "images = [ { file = \"images/master.bin\", sha256 = \"" +
         imageDigest +
         "\" } ]\n"
         "records = \"out\"\n"
         "start = \"both\"\n"
         "retries = 2\n" +
         extra +
         "[[slot]]\n"
         "name = \"A\"\n"
         "port = \"/dev/ttyUSB0\"\n"
         "[[slot]]\n"
         "name = \"B\"\n"
         "port = \"/dev/ttyUSB1\"\n";
}

class ProfileTest : public ::testing::Test {
 protected:
  std::string Fault(const std::string& text) {
    dir.Write("line1.toml", text);
    std::string why;
    EXPECT_FALSE(ReadProfile(dir.File("line1.toml"), &why).has_value());
    return why.substr(why.find("line1.toml"));
  }
  test::TempDir dir;
};

TEST_F(ProfileTest, ReadsTheSettingsAndChecksTheApprovedImages) {
  dir.Write("line1.toml", Profile(kAbc));
  std::string why;
  std::optional<StationProfile> profile = ReadProfile(dir.File("line1.toml"), &why);
  ASSERT_TRUE(profile) << why;
  EXPECT_EQ(profile->station, "line1-st3");
  EXPECT_EQ(profile->start, "both");
  EXPECT_EQ(profile->retries, 2);
  EXPECT_FALSE(profile->skipIdentical);
  ASSERT_EQ(profile->slots.size(), 2u);
  EXPECT_EQ(profile->slots[1].port, "/dev/ttyUSB1");
  // Relative paths lead from the profile's folder, wherever the station was started.
  auto same = [](const std::string& a, const std::string& b) {
    return std::filesystem::path(a).lexically_normal() ==
           std::filesystem::path(b).lexically_normal();
  };
  EXPECT_PRED2(same, profile->images[0].path, dir.File("images/master.bin"));
  EXPECT_PRED2(same, profile->records, dir.File("out"));
  EXPECT_EQ(profile->sha256.size(), 64u);

  EXPECT_THAT(CheckApprovedImages(*profile), HasSubstr("master.bin: cannot be read"));
  std::filesystem::create_directory(dir.File("images"));
  dir.Write("images/master.bin", std::string("abc"));
  EXPECT_EQ(CheckApprovedImages(*profile), "");
  dir.Write("images/master.bin", std::string("abd"));
  EXPECT_THAT(CheckApprovedImages(*profile), HasSubstr("the profile approves " + kAbc));
}

TEST_F(ProfileTest, EveryFaultNamesItsLine) {
  EXPECT_EQ(Fault(Profile(kAbc, "skip_identicl = true\n")),
            "line1.toml line 7: no setting \"skip_identicl\" in a profile; did you mean "
            "\"skip_identical\"?");
  EXPECT_EQ(Fault(Profile(kAbc, "retries = 2\n")).substr(0, 18), "line1.toml line 7:");
  EXPECT_EQ(Fault(Profile("12ab")),
            "line1.toml line 3: images/master.bin: sha256 is 64 "
            "hexadecimal digits");
  std::string burn = Profile(kAbc);
  burn.replace(burn.find("\"auto\""), 6, "\"burn\"");
  EXPECT_EQ(Fault(burn), "line1.toml line 2: procedure is \"auto\" or \"flash\", not \"burn\"");
  std::string twice = Profile(kAbc);
  twice.replace(twice.find("ttyUSB1"), 7, "ttyUSB0");
  EXPECT_EQ(Fault(twice), "line1.toml line 12: two slots use /dev/ttyUSB0");
  EXPECT_EQ(Fault("procedure = \"auto\"\n[[slot]]\nname = \"A\"\n"),
            "line1.toml: images is missing: the station programs only approved images");
  EXPECT_EQ(Fault(Profile(kAbc, "skip_identical = yes\n")).substr(0, 18), "line1.toml line 7:");
}

TEST_F(ProfileTest, ReadsTheLinesRules) {
  dir.Write("line1.toml",
            Profile(kAbc,
                    "unit_id_pattern = \"^SN-[0-9]{4}$\"\nrescan = \"refuse\"\n"
                    "operator_prefix = \"OP:\"\n[instructions]\nerase = \"Put the unit on the "
                    "rework shelf\"\n"));
  std::string why;
  std::optional<StationProfile> profile = ReadProfile(dir.File("line1.toml"), &why);
  ASSERT_TRUE(profile) << why;
  EXPECT_EQ(profile->unitIdPattern, "^SN-[0-9]{4}$");
  EXPECT_EQ(profile->rescan, "refuse");
  EXPECT_EQ(profile->instructions.at("erase"), "Put the unit on the rework shelf");
  EXPECT_EQ(profile->slots.size(), 2u);  // [instructions] ends before [[slot]]

  EXPECT_THAT(Fault(Profile(kAbc, "unit_id_pattern = \"SN-[0-9\"\n")),
              HasSubstr("line1.toml line 7: unit_id_pattern \"SN-[0-9\" is no pattern"));
  EXPECT_EQ(Fault(Profile(kAbc, "[instructions]\nerse = \"Shelf\"\n")),
            "line1.toml line 8: instructions: no step \"erse\"; did you mean \"erase\"? (the "
            "steps are image, select, connect, erase, burn, verify, close, record)");
  // An instruction is one stdout line: a line break in it would be a line of its own.
  EXPECT_THAT(Fault(Profile(kAbc, "[instructions]\nburn = \"Shelf\\nthen call\"\n")),
              HasSubstr("line 8: instructions: burn is a text in quotes on one line"));
}

// The nearest known key for a slip of the keyboard, and none for a word that is no slip.
TEST_F(ProfileTest, UnknownKeysOfferTheNearestKnownOne) {
  EXPECT_EQ(NearestName("retry", {"records", "retries"}), "retries");
  EXPECT_EQ(NearestName("rescna", {"rescan", "records"}), "rescan");
  EXPECT_EQ(NearestName("foo", {"slot", "start"}), "");
  EXPECT_THAT(Fault(Profile(kAbc, "[[slot]]\nnmae = \"C\"\nport = \"/dev/ttyUSB2\"\n")),
              HasSubstr("no setting \"nmae\" in a slot; did you mean \"name\"?"));
}

// A file that is no TOML is said as its writer would understand it, with its line and the
// line as it stands.
TEST_F(ProfileTest, ParseFaultsAreSaidInWordsWithTheirLine) {
  EXPECT_EQ(Fault(Profile(kAbc, "rescan = warn\n")),
            "line1.toml line 7: a value is a text in quotes (\"scan\"), a number, true or "
            "false, or a list in [ ] (the line reads: rescan = warn)");
  EXPECT_EQ(Fault("station = \"line1\nprocedure = \"auto\"\n"),
            "line1.toml line 1: a text in quotes ends on its own line with its closing quote "
            "(the line reads: station = \"line1)");
  EXPECT_THAT(Fault(Profile(kAbc, "retries = 3\n")),
              HasSubstr("line 7: 'retries' is given twice (the line reads: retries = 3)"));
  EXPECT_THAT(Fault(Profile(kAbc, "[slot]\n")),
              HasSubstr("line 8: [slot] and [[slot]] both appear: each slot is a [[slot]] "
                        "section"));
  EXPECT_THAT(Fault("images = [ { file = 'C:\\a.bin' } ]\nrecords = \"C:\\out\"\n"),
              HasSubstr("line 2: a \\ in a text in double quotes starts an escape ('\\o' is "
                        "none): write a Windows path in single quotes"));
}

// A new profile reads back as it was asked for, whatever its names hold: a Windows path's
// backslashes, a quote.
TEST(ProfileInitTest, ANewProfileReadsBackAsGiven) {
  test::TempDir dir;
  dir.Write("master.bin", std::string("\x08\xaa"));
  ProfileRequest request;
  request.profilePath = dir.File("line1.toml");
  request.images = {dir.File("master.bin")};
  request.slots = {"A=C:\\dev\\\"x", "B=COM7"};
  std::string why;
  const std::string text = NewProfileText(request, &why);
  ASSERT_FALSE(text.empty()) << why;
  dir.Write("line1.toml", text);
  std::optional<StationProfile> profile = ReadProfile(dir.File("line1.toml"), &why);
  ASSERT_TRUE(profile) << why;
  ASSERT_EQ(profile->slots.size(), 2u);
  EXPECT_EQ(profile->slots[0].port, "C:\\dev\\\"x");
  EXPECT_EQ(profile->slots[1].port, "COM7");
  EXPECT_EQ(profile->images[0].file, "master.bin");
  EXPECT_EQ(profile->procedure, "flash");

  request.slots = {"A=x", "A=y"};
  EXPECT_EQ(NewProfileText(request, &why), "");
  EXPECT_THAT(why, ::testing::HasSubstr("the slot A is given twice"));
}

}  // namespace
}  // namespace morlane
