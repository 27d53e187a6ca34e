#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace morlane {

// Measures text as the list box's font draws it, in pixels.
class TextMeasurer {
 public:
  virtual ~TextMeasurer() = default;
  virtual int TextExtent(std::string_view text) const = 0;
  // The width with tab stops expanded at the default positions.
  virtual int TabbedTextExtent(std::string_view text) const { return TextExtent(text); }
};

// Fixed width per character: the headless window's measure.
class FixedWidthMeasurer : public TextMeasurer {
 public:
  explicit FixedWidthMeasurer(int charWidth = 8) : charWidth_(charWidth) {}
  int TextExtent(std::string_view text) const override {
    return static_cast<int>(text.size()) * charWidth_;
  }

 private:
  int charWidth_;
};

// What a view of the list is told; every call comes on the window thread.
class ListBoxObserver {
 public:
  virtual ~ListBoxObserver() = default;
  virtual void ItemInserted(int index) = 0;
  virtual void ItemRemoved(int index) = 0;
  virtual void ContentReset() = 0;
  virtual void SelectionChanged(int index) = 0;
  virtual void HorizontalExtentChanged(int extent) = 0;
};

// The log list: lines kept in arrival order in text chunks (no object per line), with a
// horizontal extent that follows the widest line. An append costs the same at a million
// lines as at ten: the text goes to the end of the last chunk (or a new one) and nothing
// stored is ever moved or copied for it, so no append waits for a growing buffer. Each of the five
// requests below does the standard list work first, then adjusts the extent, and returns the
// standard result.
class CHScrollListBox {
 public:
  static constexpr int kErr = -1;
  static constexpr int kErrSpace = -2;

  explicit CHScrollListBox(const TextMeasurer* measurer = nullptr);

  void SetMeasurer(const TextMeasurer* measurer) { measurer_ = measurer; }
  void SetObserver(ListBoxObserver* observer) { observer_ = observer; }
  // The sort style: it orders add-string requests only.
  void SetSorted(bool sorted) { sorted_ = sorted; }
  // The tab-stop-expansion style (off for the log list).
  void SetUseTabStops(bool useTabStops) { useTabStops_ = useTabStops; }

  int AddString(std::string_view text);
  int InsertString(int index, std::string_view text);
  int DeleteString(int index);
  // Adds the names in the current directory that match the wildcard (* and ?), as the
  // list box's directory request does; returns the index of the last name added.
  int Dir(std::string_view wildcard);
  void ResetContent();

  int GetCount() const { return static_cast<int>(lines_.size()); }
  std::string GetText(int index) const;
  std::string_view TextAt(int index) const;
  int GetCurSel() const { return selection_; }
  void SetCurSel(int index);
  int GetHorizontalExtent() const { return extent_; }
  void SetHorizontalExtent(int extent);
  // Largest number of lines the list can hold; an insert beyond it fails with kErrSpace.
  void SetCapacity(size_t lines) { capacity_ = lines; }

  int TextWidth(std::string_view text) const;

 private:
  // 12 bytes a line besides its text.
  struct Line {
    uint32_t chunk;
    uint32_t offset;
    uint32_t length;
  };
  struct Chunk {
    std::unique_ptr<char[]> bytes;
    size_t size;
    size_t used;
  };
  static constexpr size_t kChunkBytes = 256 * 1024;

  Line Store(std::string_view text);
  int StandardInsert(int index, std::string_view text);
  void WidenFor(std::string_view text);
  void RecomputeExtent();
  void CompactText();

  const TextMeasurer* measurer_;
  ListBoxObserver* observer_ = nullptr;
  std::vector<Chunk> chunks_;
  std::deque<Line> lines_;
  size_t storedBytes_ = 0;
  size_t deadBytes_ = 0;
  size_t capacity_ = SIZE_MAX;
  int extent_ = 0;
  int selection_ = -1;
  bool sorted_ = true;
  bool useTabStops_ = false;
};

}  // namespace morlane
