#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "image/raw_block.h"
#include "image/s19_block.h"

namespace morlane {

class Window;

// Why an S-record file was refused: the line at fault (from 1; 0 when no line is) and a
// word for programs ("record-type", "blank-line", ...) with a sentence for people. Empty
// reason: nothing was refused.
struct S19Refusal {
  int line = 0;
  std::string reason;
  std::string detail;
};

// The S-record image: the S19 block list read from a .S19 file, the raw block list of
// fixed-size rows cut from it, and the writers of tmp.txt and tmp.bin.
class CXferS19 {
 public:
  explicit CXferS19(Window& window);
  CXferS19(const CXferS19&) = delete;
  CXferS19& operator=(const CXferS19&) = delete;
  virtual ~CXferS19() = default;

  // Reads the file in text mode (a carriage return before a line feed is dropped), one
  // record per line, and inserts the fixed record for images that start at 0xE600.
  int BuildS19BlockList(const std::string& path);
  // The same on the text of a file already read.
  int ParseS19Text(std::string_view contents);
  // Fills record from one line; 0 when the line is not an S0, S1 or S9 record.
  int ParseLine(CS19block& record, std::string_view line);
  // Cuts the S19 block list into rows of rowSize bytes.
  int BuildRawBlockList();
  // tmp.txt in the working directory, every line ending in carriage return, line feed.
  int WriteTxtFile(const std::string& name);
  // The rows as bytes, without any translation.
  int WriteBinFile(const std::string& name);
  // What the two files hold.
  std::string TxtFileBytes() const;
  std::string BinFileBytes() const;

  int rowSize = 16;
  bool skipFirst = false;
  std::vector<CS19block> s19BlockList;
  std::vector<CRawblock> rawBlockList;
  // Why the last BuildS19BlockList, ParseS19Text or BuildRawBlockList refused the file.
  S19Refusal refusal;

  static constexpr int kFixedRecordAddress = 0xDC80;
  static constexpr int kFirstDataAddress = 0xE600;

 private:
  void InsertFixedRecord();
  // Row steps of the builder; 0 when the record or the row cannot go into tmp.bin.
  int StartRow(const CS19block& record);
  void FillRowTo(int m);
  int CloseRow();
  int CheckRecord(const CS19block& record);
  // Notes why the file is refused; returns 0 for the caller.
  int Refuse(int line, const char* reason, std::string detail);
  // The refusal of a line ParseLine did not take, number counted from 1.
  int RefuseLine(int number, std::string_view line);

  Window& window_;
  CRawblock row_;
  int rowLine_ = 0;  // the line of the record that started row_
};

}  // namespace morlane
