// A station's profile: what it says, where relative paths lead, and every fault named by
// its line, so that a line's engineer finds the mistake without guessing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "station/profile.h"
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

  EXPECT_THAT(CheckApprovedImages(*profile), HasSubstr("images/master.bin: cannot be read"));
  std::filesystem::create_directory(dir.File("images"));
  dir.Write("images/master.bin", std::string("abc"));
  EXPECT_EQ(CheckApprovedImages(*profile), "");
  dir.Write("images/master.bin", std::string("abd"));
  EXPECT_THAT(CheckApprovedImages(*profile), HasSubstr("the profile approves " + kAbc));
}

TEST_F(ProfileTest, EveryFaultNamesItsLine) {
  EXPECT_EQ(Fault(Profile(kAbc, "skip_identicl = true\n")),
            "line1.toml line 7: no setting \"skip_identicl\" in a profile");
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

}  // namespace
}  // namespace morlane
