#include "ui/hscroll_listbox.h"
#include "platform/utf8_path.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <limits>

namespace morlane {

namespace {

const FixedWidthMeasurer kDefaultMeasurer;

// Case-insensitive order of the sort style.
bool SortsBefore(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool Failed(int result) {
  return result == CHScrollListBox::kErr || result == CHScrollListBox::kErrSpace;
}

}  // namespace

CHScrollListBox::CHScrollListBox(const TextMeasurer* measurer)
    : measurer_(measurer ? measurer : &kDefaultMeasurer) {}

std::string_view CHScrollListBox::TextAt(int index) const {
  if (index < 0 || index >= GetCount()) return {};
  const Line& line = lines_[static_cast<size_t>(index)];
  return std::string_view(chunks_[line.chunk].bytes.get() + line.offset, line.length);
}

CHScrollListBox::Line CHScrollListBox::Store(std::string_view text) {
  if (chunks_.empty() || chunks_.back().size - chunks_.back().used < text.size()) {
    // A line longer than a chunk gets one of its own size.
    const size_t size = std::max(kChunkBytes, text.size());
    chunks_.push_back({std::make_unique_for_overwrite<char[]>(size), size, 0});
  }
  Chunk& chunk = chunks_.back();
  Line line{static_cast<uint32_t>(chunks_.size() - 1), static_cast<uint32_t>(chunk.used),
            static_cast<uint32_t>(text.size())};
  std::copy(text.begin(), text.end(), chunk.bytes.get() + chunk.used);
  chunk.used += text.size();
  storedBytes_ += text.size();
  return line;
}

std::string CHScrollListBox::GetText(int index) const {
  return std::string(TextAt(index));
}

int CHScrollListBox::StandardInsert(int index, std::string_view text) {
  if (index < -1 || index > GetCount()) return kErr;
  if (lines_.size() >= capacity_ || text.size() > std::numeric_limits<uint32_t>::max() ||
      chunks_.size() >= std::numeric_limits<uint32_t>::max()) {
    return kErrSpace;
  }
  if (index == -1) index = GetCount();
  Line line = Store(text);
  if (index == GetCount()) {
    lines_.push_back(line);
  } else {
    lines_.insert(lines_.begin() + index, line);
  }
  if (selection_ >= index) ++selection_;
  if (observer_) observer_->ItemInserted(index);
  return index;
}

int CHScrollListBox::AddString(std::string_view text) {
  int index = GetCount();
  if (sorted_) {
    auto it = std::upper_bound(
        lines_.begin(), lines_.end(), text, [this](std::string_view value, const Line& line) {
          return SortsBefore(
              value, std::string_view(chunks_[line.chunk].bytes.get() + line.offset, line.length));
        });
    index = static_cast<int>(it - lines_.begin());
  }
  int result = StandardInsert(index, text);
  if (!Failed(result)) WidenFor(text);
  return result;
}

int CHScrollListBox::InsertString(int index, std::string_view text) {
  int result = StandardInsert(index, text);
  if (!Failed(result)) WidenFor(text);
  // The newest line is selected, and so scrolled into view, even when the insert failed.
  SetCurSel(GetCount() - 1);
  return result;
}

int CHScrollListBox::DeleteString(int index) {
  if (index < 0 || index >= GetCount()) return kErr;
  deadBytes_ += lines_[static_cast<size_t>(index)].length;
  lines_.erase(lines_.begin() + index);
  if (selection_ == index) {
    selection_ = -1;
  } else if (selection_ > index) {
    --selection_;
  }
  if (observer_) observer_->ItemRemoved(index);
  if (deadBytes_ > storedBytes_ / 2) CompactText();
  int result = GetCount();
  RecomputeExtent();
  return result;
}

int CHScrollListBox::Dir(std::string_view wildcard) {
  std::error_code error;
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(".", error)) {
    std::string name = PathToUtf8(entry.path().filename());
    if (entry.is_regular_file(error) && WildcardMatch(wildcard, name)) names.push_back(name);
  }
  if (error) return kErr;
  int result = kErr;
  for (const auto& name : names) {
    int added = AddString(name);
    if (Failed(added)) return added;
    result = added;
  }
  if (!Failed(result)) RecomputeExtent();
  return result;
}

void CHScrollListBox::ResetContent() {
  chunks_.clear();
  chunks_.shrink_to_fit();
  lines_.clear();
  lines_.shrink_to_fit();
  storedBytes_ = 0;
  deadBytes_ = 0;
  selection_ = -1;
  if (observer_) observer_->ContentReset();
  SetHorizontalExtent(0);
}

void CHScrollListBox::SetCurSel(int index) {
  if (index < -1 || index >= GetCount()) index = -1;
  selection_ = index;
  if (observer_) observer_->SelectionChanged(index);
}

void CHScrollListBox::SetHorizontalExtent(int extent) {
  if (extent == extent_) return;
  extent_ = extent;
  if (observer_) observer_->HorizontalExtentChanged(extent);
}

int CHScrollListBox::TextWidth(std::string_view text) const {
  if (useTabStops_) return measurer_->TabbedTextExtent(text) + 2;
  return measurer_->TextExtent(text) + 3;
}

void CHScrollListBox::WidenFor(std::string_view text) {
  int width = TextWidth(text);
  if (width > extent_) SetHorizontalExtent(width);
}

void CHScrollListBox::RecomputeExtent() {
  int widest = 0;
  for (int i = 0; i < GetCount(); ++i) widest = std::max(widest, TextWidth(TextAt(i)));
  SetHorizontalExtent(widest);
}

void CHScrollListBox::CompactText() {
  std::vector<Chunk> old = std::move(chunks_);
  chunks_.clear();
  storedBytes_ = 0;
  for (Line& line : lines_) {
    line = Store(std::string_view(old[line.chunk].bytes.get() + line.offset, line.length));
  }
  deadBytes_ = 0;
}

}  // namespace morlane
