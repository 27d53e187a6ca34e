// What a package's zip may hold: anything that could escape a folder, hide a second copy of
// a file or unpack far beyond its size is refused before it is used.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "package/service_package.h"
#include "package/zip_archive.h"

namespace morlane::package {
namespace {

using ::testing::HasSubstr;

std::vector<uint8_t> Zip(const std::vector<ZipEntry>& entries) {
  std::string why;
  std::optional<std::vector<uint8_t>> zip = WriteZip(entries, LocalTime{2026, 12, 9}, &why);
  EXPECT_TRUE(zip) << why;
  return zip.value_or(std::vector<uint8_t>{});
}

std::string Refusal(const std::vector<ZipEntry>& entries, const ZipLimits& limits = {}) {
  std::string why;
  EXPECT_FALSE(ReadZip(Zip(entries), limits, &why));
  return why;
}

TEST(ZipArchiveTest, WhatWasWrittenIsReadBack) {
  const std::vector<ZipEntry> entries = {{"manifest.json", {'{', '}'}},
                                         {"Master.bin", std::vector<uint8_t>(5000, 0x08)}};
  std::string why;
  std::optional<std::vector<ZipEntry>> read = ReadZip(Zip(entries), {}, &why);
  ASSERT_TRUE(read) << why;
  ASSERT_EQ(read->size(), 2u);
  EXPECT_EQ((*read)[1].name, "Master.bin");
  EXPECT_EQ((*read)[1].data, entries[1].data);
}

TEST(ZipArchiveTest, HostileEntriesAreRefusedByName) {
  EXPECT_THAT(Refusal({{"../evil.bin", {1}}}), HasSubstr("\"../evil.bin\" is no plain file name"));
  EXPECT_THAT(Refusal({{"sub/Master.bin", {1}}}), HasSubstr("no plain file name"));
  EXPECT_THAT(Refusal({{"C:Master.bin", {1}}}), HasSubstr("no plain file name"));
  EXPECT_THAT(Refusal({{"Master.bin", {1}}, {"master.BIN", {2}}}),
              HasSubstr("\"master.BIN\" is in it twice"));
  // A bomb: megabytes of zeros in a few kilobytes, stopped at the limit, not unpacked whole.
  ZipLimits small;
  small.entryBytes = 1 << 20;
  EXPECT_THAT(Refusal({{"Master.bin", std::vector<uint8_t>(4u << 20, 0)}}, small),
              HasSubstr("unpacks to more than a package may hold"));
  small = {};
  small.entries = 2;
  EXPECT_THAT(Refusal({{"a", {1}}, {"b", {2}}, {"c", {3}}}, small), HasSubstr("3 entries"));
}

TEST(ZipArchiveTest, CutOrDamagedZipsAreRefused) {
  std::vector<uint8_t> zip = Zip({{"Master.bin", std::vector<uint8_t>(3000, 0x5A)}});
  std::string why;
  // Cut anywhere before the end of its directory (the last byte alone, the high byte of an
  // empty comment's length, loses nothing and is taken).
  for (size_t cut : {size_t{0}, size_t{10}, zip.size() / 2, zip.size() - 22}) {
    std::vector<uint8_t> part(zip.begin(), zip.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_FALSE(ReadZip(part, {}, &why)) << cut;
  }
  // A byte of the packed data changed: the CRC or the inflater says so.
  zip[40] ^= 0xFF;
  EXPECT_FALSE(ReadZip(zip, {}, &why));
  EXPECT_FALSE(why.empty());
}

}  // namespace
}  // namespace morlane::package
