// Report lengths from report descriptors written out here item by item.
#include "platform/report_descriptor.h"

#include <gtest/gtest.h>

namespace morlane {
namespace {

using Bytes = std::vector<uint8_t>;

// Short items as a device's firmware lists them.
Bytes UsagePage(uint16_t page) {
  return {0x06, uint8_t(page), uint8_t(page >> 8)};
}
Bytes Usage(uint8_t usage) {
  return {0x09, usage};
}
Bytes Collection() {
  return {0xA1, 0x01};
}
Bytes EndCollection() {
  return {0xC0};
}
Bytes ReportSize(uint8_t bits) {
  return {0x75, bits};
}
Bytes ReportCount(uint8_t count) {
  return {0x95, count};
}
Bytes ReportCount16(uint16_t count) {
  return {0x96, uint8_t(count), uint8_t(count >> 8)};
}
Bytes ReportId(uint8_t id) {
  return {0x85, id};
}
Bytes LogicalRange() {
  return {0x15, 0x00, 0x26, 0xFF, 0x00};
}
Bytes Input() {
  return {0x81, 0x02};
}
Bytes Output() {
  return {0x91, 0x02};
}
Bytes Feature() {
  return {0xB1, 0x02};
}
Bytes Push() {
  return {0xA4};
}
Bytes Pop() {
  return {0xB4};
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// The unit's interface controller: 64-byte reports both ways, no report ids.
Bytes UnitDescriptor() {
  return Join({UsagePage(0xFF00), Usage(0x01), Collection(), LogicalRange(), ReportSize(8),
               ReportCount(64), Usage(0x01), Input(), ReportCount(64), Usage(0x01), Output(),
               EndCollection()});
}

TEST(ReportDescriptor, UnnumberedSixtyFourByteReportsCountTheIdByte) {
  ReportDescriptorInfo info =
      ParseReportDescriptorInfo(UnitDescriptor().data(), UnitDescriptor().size());
  EXPECT_TRUE(info.valid);
  EXPECT_FALSE(info.numberedReports);
  EXPECT_EQ(info.caps.inputReportLength, 65);
  EXPECT_EQ(info.caps.outputReportLength, 65);
  HidCaps caps = ParseReportDescriptor(UnitDescriptor());
  EXPECT_EQ(caps.inputReportLength, 65);
}

TEST(ReportDescriptor, SeveralReportIdsGiveTheLongestOfEachDirection) {
  Bytes descriptor = Join({UsagePage(0xFF00), Usage(0x01), Collection(), ReportSize(8), ReportId(1),
                           ReportCount(8), Input(), ReportCount(4), Output(), ReportId(2),
                           ReportCount(32), Input(), ReportId(3), ReportCount(20), Output(),
                           ReportCount(20), Output(), Feature(), EndCollection()});
  ReportDescriptorInfo info = ParseReportDescriptorInfo(descriptor.data(), descriptor.size());
  EXPECT_TRUE(info.valid);
  EXPECT_TRUE(info.numberedReports);
  EXPECT_EQ(info.caps.inputReportLength, 33);   // report 2
  EXPECT_EQ(info.caps.outputReportLength, 41);  // report 3, two Output items together
}

TEST(ReportDescriptor, BitFieldsRoundUpToWholeBytes) {
  // 3 buttons of 1 bit and 5 bits of padding, then 2 axes of 12 bits: 4 bytes.
  Bytes descriptor = Join({ReportSize(1),
                           ReportCount(3),
                           Input(),
                           ReportSize(5),
                           ReportCount(1),
                           {0x81, 0x03},
                           ReportSize(12),
                           ReportCount(2),
                           Input(),
                           ReportSize(1),
                           ReportCount(9),
                           Output()});
  HidCaps caps = ParseReportDescriptor(descriptor);
  EXPECT_EQ(caps.inputReportLength, 5);
  EXPECT_EQ(caps.outputReportLength, 3);  // 9 bits: 2 bytes
}

TEST(ReportDescriptor, LongOutputReportsAndDirectionsWithoutReports) {
  Bytes descriptor = Join({UsagePage(0xFF00), Usage(0x01), Collection(), ReportSize(8),
                           ReportCount16(128), Output(), EndCollection()});
  HidCaps caps = ParseReportDescriptor(descriptor);
  EXPECT_EQ(caps.outputReportLength, 129);
  EXPECT_EQ(caps.inputReportLength, 0);
  EXPECT_EQ(ParseReportDescriptor({}).inputReportLength, 0);
  EXPECT_TRUE(ParseReportDescriptorInfo(nullptr, 0).valid);
}

TEST(ReportDescriptor, PushAndPopRestoreSizeCountAndId) {
  Bytes descriptor = Join({ReportSize(8), ReportCount(10), ReportId(1), Push(), ReportSize(16),
                           ReportCount(10), ReportId(2), Input(), Pop(), Input(), Input()});
  HidCaps caps = ParseReportDescriptor(descriptor);
  // Report 2: 20 bytes; report 1: two items of 10 bytes after the pop.
  EXPECT_EQ(caps.inputReportLength, 21);
  Bytes underflow = Join({Push(), Pop(), Pop(), ReportSize(8), ReportCount(4), Input()});
  EXPECT_FALSE(ParseReportDescriptorInfo(underflow.data(), underflow.size()).valid);
}

TEST(ReportDescriptor, LongItemsAreSkippedWhole) {
  // A long item whose data would read as an Input of 255 bytes if taken for short items.
  Bytes descriptor =
      Join({ReportSize(8), ReportCount(16), {0xFE, 0x04, 0x10, 0x95, 0xFF, 0x81, 0x02}, Input()});
  HidCaps caps = ParseReportDescriptor(descriptor);
  EXPECT_EQ(caps.inputReportLength, 17);
}

TEST(ReportDescriptor, MalformedDescriptorsYieldNothing) {
  const Bytes unit = UnitDescriptor();
  // Every cut through the last item's data, and a cut long item.
  for (const Bytes& bad :
       {Join({ReportSize(8), {0x96, 0x40}}), Bytes{0x75},
        Join({ReportSize(8), ReportCount(4), Input(), {0xFE, 0x05, 0x00, 0x01}}), Bytes{0xFE, 0x01},
        Join({ReportId(0), ReportSize(8), ReportCount(4), Input()})}) {
    ReportDescriptorInfo info = ParseReportDescriptorInfo(bad.data(), bad.size());
    EXPECT_FALSE(info.valid);
    EXPECT_EQ(info.caps.inputReportLength, 0);
    EXPECT_EQ(info.caps.outputReportLength, 0);
  }
  for (size_t cut = 1; cut < unit.size(); ++cut) {
    // A cut between items still parses; a cut inside one never reads past the end.
    ReportDescriptorInfo info = ParseReportDescriptorInfo(unit.data(), cut);
    EXPECT_LE(info.caps.inputReportLength, 65);
  }
  // Sizes and counts of 32 bits cannot overflow into a small length.
  Bytes huge = {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02};
  EXPECT_FALSE(ParseReportDescriptorInfo(huge.data(), huge.size()).valid);
  Bytes deep;
  for (int i = 0; i < 40; ++i) deep.push_back(0xA4);
  EXPECT_FALSE(ParseReportDescriptorInfo(deep.data(), deep.size()).valid);
}

}  // namespace
}  // namespace morlane
