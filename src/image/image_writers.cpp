// tmp.txt, the listing for the technician, and tmp.bin, the image the unit receives.
#include "image/hex_byte.h"
#include "image/image_texts.h"
#include "image/xfer_s19.h"
#include "platform/file_io.h"
#include "ui/log.h"
#include "ui/window.h"

namespace morlane {

namespace {

// Writes everything and closes; false when any of it did not reach the file. A file
// that fails part-way is left as far as it got. A pipe or device of that name is refused
// rather than waited on.
bool WriteFile(const std::string& name, const std::string& bytes) {
  OutputFile file;
  return file.Create(name) && file.Write(bytes);
}

}  // namespace

std::string CXferS19::TxtFileBytes() const {
  std::string text;
  for (const CRawblock& row : rawBlockList) {
    // A text file for the technician: its lines end CR LF wherever the tool runs.
    text += FormatText("%02x-%04x-%02x-", row.size, row.address, row.length);
    text += row.data;
    text += "\r\n";
  }
  return text;
}

std::string CXferS19::BinFileBytes() const {
  std::string bytes;
  std::string text;
  for (const CRawblock& row : rawBlockList) {
    text = FormatText("%02x%04x%02x", row.size, row.address, row.length);
    text += row.data;
    // Pairs from the start; a single last character gives 0.
    for (size_t i = 0; i < text.size(); i += 2) {
      std::string_view pair = std::string_view(text).substr(i, 2);
      bytes.push_back(static_cast<char>(HexByte(pair)));
    }
  }
  return bytes;
}

int CXferS19::WriteTxtFile(const std::string& name) {
  if (!WriteFile(name, TxtFileBytes())) {
    window_.MessageBox(std::string(image_text::kTxtWriteError));
    return 0;
  }
  return 1;
}

int CXferS19::WriteBinFile(const std::string& name) {
  if (!WriteFile(name, BinFileBytes())) {
    window_.MessageBox(std::string(image_text::kBinWriteError));
    return 0;
  }
  return 1;
}

}  // namespace morlane
