// Cuts the S19 block list into rows of rowSize bytes, the format tmp.bin carries to the
// unit. The builder is made for images of 16-byte records at 16-byte-aligned addresses;
// gaps inside a row are filled with 0xFF in 16-byte steps.
#include <string>

#include "image/image_texts.h"
#include "image/xfer_s19.h"
#include "ui/log.h"
#include "ui/window.h"

namespace morlane {

namespace {

// A row's size byte: 4 header bytes and at most 251 data bytes.
constexpr int kMaxRowSize = 0xFF;
constexpr int kStep = 16;

}  // namespace

// A record whose count is below 3 would give a negative length, and one whose line was
// cut short holds fewer data characters than its count says: either would put a row in
// tmp.bin whose size byte does not match the bytes that follow, and the unit would read
// every row after it from the wrong place. Such images are refused whole.
int CXferS19::CheckRecord(const CS19block& record) {
  int bytes = record.count - 3;
  if (bytes < 0) {
    AppendLogLine(window_, FormatText(image_text::kShortRecordFormat, record.address));
    return Refuse(record.line, "byte-count",
                  FormatText("the byte count is %d, below the 3 bytes of address and checksum",
                             record.count));
  }
  // The data field is taken as far as the line goes, never further.
  if (record.data.size() != static_cast<size_t>(2 * bytes)) {
    AppendLogLine(window_, FormatText(image_text::kCutRecordFormat, record.address));
    return Refuse(record.line, "short-line",
                  FormatText("the line ends before the %d data bytes its byte count gives", bytes));
  }
  return 1;
}

int CXferS19::StartRow(const CS19block& record) {
  if (!CheckRecord(record)) return 0;
  row_ = CRawblock();
  rowLine_ = record.line;
  row_.address = record.address;
  row_.length = record.count - 3;
  row_.data = record.data;
  return 1;
}

void CXferS19::FillRowTo(int m) {
  if (row_.length % m == 0) return;
  int n = m - row_.length % m;
  row_.data.append(static_cast<size_t>(2 * n), 'F');
  row_.length += n;
}

int CXferS19::CloseRow() {
  row_.size += row_.length;
  if (row_.length % rowSize != 0) {
    int n = rowSize - row_.length % rowSize;
    row_.data.append(static_cast<size_t>(2 * n), 'F');
    row_.length += n;
    row_.size += n;
  }
  // A size of three hex digits would shift every following byte of tmp.bin.
  if (row_.size > kMaxRowSize) {
    AppendLogLine(window_, FormatText(image_text::kLongRowFormat, row_.address));
    return Refuse(rowLine_, "long-row",
                  FormatText("the row at %04X would be %d bytes long, over %d", row_.address,
                             row_.size, kMaxRowSize));
  }
  rawBlockList.push_back(row_);
  return 1;
}

int CXferS19::BuildRawBlockList() {
  refusal = S19Refusal();
  rawBlockList.clear();
  if (s19BlockList.empty()) {
    window_.MessageBox(std::string(image_text::kS19FileErrorB));
    return Refuse(0, "no-records", "the file holds no record");
  }
  // Rows are 16, 32 or 128 bytes; anything else is no row format of the unit.
  if (rowSize < kStep || rowSize % kStep != 0 || rowSize > kMaxRowSize - 4) {
    AppendLogLine(window_, FormatText(image_text::kBadRowSizeFormat, rowSize));
    return Refuse(0, "row-size",
                  FormatText("rows of %d bytes are no row format of the unit", rowSize));
  }
  const size_t last = s19BlockList.size() - 1;
  size_t first = skipFirst ? 1 : 0;
  // The last record (the S9 record of a complete image) adds nothing to the rows, so a
  // list whose first row would start at it has no data: refused rather than read past.
  if (first >= last) {
    AppendLogLine(window_, image_text::kNoDataRecord);
    return Refuse(0, "no-data", "no data record comes before the last record");
  }

  int result = 1;
  size_t current = first;
  if (!StartRow(s19BlockList[current])) result = 0;
  int expected = row_.address + kStep;
  int rowEnd = 0xFFFF;  // the first row has no computed end
  bool again = false;
  while (result) {
    if (!again) ++current;
    if (current == last) {
      if (!CloseRow()) result = 0;
      break;
    }
    again = false;
    const CS19block& record = s19BlockList[current];
    int a = record.address;
    if (a % rowSize == 0 || a >= rowEnd) {
      // A new row at every row-aligned address and after the end of the aligned span.
      rowEnd = a - a % rowSize + rowSize;
      if (!CloseRow() || !StartRow(record)) result = 0;
      expected = row_.address + kStep;
    } else if (row_.length + kStep > rowSize) {
      if (!CloseRow() || !StartRow(record)) result = 0;
      expected = row_.address + row_.length;
    } else if (a == expected) {
      if (!CheckRecord(record)) {
        result = 0;
        break;
      }
      row_.data += record.data;
      row_.length += record.count - 3;
      if (record.count - 3 < kStep) FillRowTo(kStep);
      expected += kStep;
    } else {
      // A gap: 16 bytes of 0xFF, and the same record is looked at again.
      row_.data.append(2 * kStep, 'F');
      row_.length += kStep;
      again = true;
      expected += kStep;
    }
  }
  if (!result) rawBlockList.clear();
  return result;
}

}  // namespace morlane
