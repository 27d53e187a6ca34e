// Every caption of the window shown whole: measured with its control's own font against
// the room the control leaves it, and read back from the pixels the control draws, both
// enabled and disabled, in the window and in the service view; and in a face wider than
// the layout's, every caption given the room there is, no control made to overlap another.
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "ui/control_table.h"
#include "win/wide_text.h"
#include "win/window_picture.h"
#include "win_fixture.h"

namespace morlane::win::test {
namespace {

bool HasCaption(const ControlSpec& control) {
  switch (control.kind) {
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
    case ControlKind::ManualCheckBox:
    case ControlKind::StaticText:
      return control.caption[0] != '\0';
    default:
      return false;
  }
}

bool IsCheckBox(ControlKind kind) {
  return kind == ControlKind::CheckBox || kind == ControlKind::ManualCheckBox;
}

int Distance(uint32_t a, uint32_t b) {
  int distance = 0;
  for (int shift : {0, 8, 16}) {
    distance +=
        std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
  }
  return distance;
}

// Where a caption's letters lie in a picture of its control: the columns from its first
// to its last ink, and whether its edges are smoothed (shades between the face and the
// text) or drawn in two colours.
struct Ink {
  int width = 0;
  bool smooth = false;
};

// Ink is a pixel at least half as far from the face (the commonest colour) as the text
// colour (the farthest from it), so that grey text on a grey face is measured as black
// text on white. A check box's glyph, the first run of columns off the face colour from
// the left, is left out.
Ink InkOf(const Picture& picture, int edge, bool skipGlyph) {
  std::map<uint32_t, int> counts;
  for (uint32_t pixel : picture.pixels) ++counts[pixel];
  uint32_t face = 0;
  int most = 0;
  for (const auto& [colour, count] : counts) {
    if (count > most) face = colour, most = count;
  }
  const int width = picture.width - edge, height = picture.height - edge;
  auto at = [&](int x, int y) {
    return picture.pixels[static_cast<size_t>(y) * picture.width + x];
  };
  auto columnFar = [&](int x) {
    int distance = 0;
    for (int y = edge; y < height; ++y) distance = std::max(distance, Distance(at(x, y), face));
    return distance;
  };
  int x = edge;
  if (skipGlyph) {
    while (x < width && columnFar(x) == 0) ++x;
    while (x < width && columnFar(x) > 0) ++x;
  }
  const int from = x;
  int farthest = 0;
  for (; x < width; ++x) farthest = std::max(farthest, columnFar(x));
  if (farthest == 0) return {};
  auto inkIn = [&](int column) {
    for (int y = edge; y < height; ++y) {
      if (2 * Distance(at(column, y), face) >= farthest) return true;
    }
    return false;
  };
  int first = -1, last = -1;
  std::map<uint32_t, int> shades;
  for (x = from; x < width; ++x) {
    if (!inkIn(x)) continue;
    if (first < 0) first = x;
    last = x;
    for (int y = edge; y < height; ++y) ++shades[at(x, y)];
  }
  if (first < 0) return {};
  // Face, text and an embossed edge at most when the letters are not smoothed.
  return {last - first + 1, shades.size() > 3};
}

// A control's font selected into a DC of its own for as long as it lives.
class FontDc {
 public:
  explicit FontDc(HWND control)
      : control_(control),
        dc_(GetDC(control)),
        old_(SelectObject(dc_,
                          reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)))) {}
  ~FontDc() {
    SelectObject(dc_, old_);
    ReleaseDC(control_, dc_);
  }
  FontDc(const FontDc&) = delete;
  FontDc& operator=(const FontDc&) = delete;
  HDC Get() const { return dc_; }

 private:
  HWND control_;
  HDC dc_;
  HGDIOBJ old_;
};

int TextWidth(HDC dc, const std::wstring& text) {
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size.cx;
}

// The caption drawn whole, black on white, with the control's font, smoothed or not as
// the control draws it.
int WholeInkWidth(HWND control, const std::wstring& text, bool smooth) {
  LOGFONTW face{};
  GetObjectW(reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof face,
             &face);
  face.lfQuality = smooth ? ANTIALIASED_QUALITY : NONANTIALIASED_QUALITY;
  HFONT font = CreateFontIndirectW(&face);
  HDC memory = CreateCompatibleDC(nullptr);
  HGDIOBJ oldFont = SelectObject(memory, font);
  const int width = TextWidth(memory, text) + 8;
  TEXTMETRICW metrics{};
  GetTextMetricsW(memory, &metrics);
  const int height = metrics.tmHeight + 4;
  BITMAPINFO info{};
  info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
  RECT all{0, 0, width, height};
  FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SetTextColor(memory, RGB(0, 0, 0));
  SetBkMode(memory, TRANSPARENT);
  TextOutW(memory, 4, 2, text.c_str(), static_cast<int>(text.size()));
  GdiFlush();
  Picture picture{width, height, {}};
  const auto* raw = static_cast<const uint32_t*>(bits);
  picture.pixels.assign(raw, raw + static_cast<size_t>(width) * height);
  for (uint32_t& pixel : picture.pixels) pixel &= 0xFFFFFF;
  SelectObject(memory, oldBitmap);
  SelectObject(memory, oldFont);
  DeleteObject(bitmap);
  DeleteObject(font);
  DeleteDC(memory);
  return InkOf(picture, 0, false).width;
}

// The width the control leaves its caption: a push button draws it inside its edge and
// its focus rectangle, a check box beside its glyph and a gap of half a digit.
int RoomFor(HWND control, ControlKind kind, HDC fontDc) {
  RECT client{};
  GetClientRect(control, &client);
  switch (kind) {
    case ControlKind::PushButton:
      return client.right - 2 * (GetSystemMetrics(SM_CXEDGE) + 1);
    case ControlKind::CheckBox:
    case ControlKind::ManualCheckBox:
      return client.right - GetSystemMetrics(SM_CXMENUCHECK) - TextWidth(fontDc, L"0") / 2;
    default:
      return client.right;
  }
}

// Whatever does not fit, one line per control and state; the controls `skip` names are
// left out.
std::string CaptionsCut(Win32Window& window, const std::set<int>& skip = {}) {
  std::ostringstream cut;
  // No focus rectangle around a caption.
  SetFocus(window.Control(ctl::kLogList));
  for (const ControlSpec& control : MainDialogTemplate().controls) {
    HWND item = window.Control(control.id);
    if (!HasCaption(control) || !item || !IsWindowVisible(item)) continue;
    if (skip.count(control.id)) continue;
    const bool enabledBefore = IsWindowEnabled(item) != FALSE;
    const std::wstring caption = Wide(control.caption);
    for (bool enabled : {true, false}) {
      EnableWindow(item, enabled);
      const char* state = enabled ? "enabled" : "disabled";
      FontDc font(item);
      const int extent = TextWidth(font.Get(), caption);
      const int room = RoomFor(item, control.kind, font.Get());
      if (extent > room) {
        cut << '"' << control.caption << "\" " << state << ": " << extent
            << " px of text in a room of " << room << " px\n";
      }
      const Picture picture = CaptureClient(item);
      // A push button's face is framed by its edge.
      const Ink drawn =
          InkOf(picture, control.kind == ControlKind::PushButton ? 3 : 0, IsCheckBox(control.kind));
      const int whole = WholeInkWidth(item, caption, drawn.smooth);
      // One column of slack: the letters' edges are smoothed.
      if (drawn.width < whole - 1) {
        cut << '"' << control.caption << "\" " << state << ": drawn " << drawn.width
            << " px wide, whole it is " << whole << " px\n";
      }
    }
    EnableWindow(item, enabledBefore);
  }
  return cut.str();
}

TEST(WinCaptions, EveryCaptionShowsWholeEnabledAndDisabled) {
  Win32Window window(InstanceTag("captions"));
  window.Show();
  EXPECT_EQ(CaptionsCut(window), "") << "in the window";
  window.SetServiceView(true);
  EXPECT_EQ(CaptionsCut(window), "") << "in the service view";
}

// The control's font a good deal wider, as a face standing in for a missing one may draw
// the captions: the average width of a letter set, the height kept.
HFONT WiderFont(HWND control, int percent) {
  LOGFONTW face{};
  GetObjectW(reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof face,
             &face);
  TEXTMETRICW metrics{};
  {
    FontDc font(control);
    GetTextMetricsW(font.Get(), &metrics);
  }
  face.lfWidth = metrics.tmAveCharWidth * percent / 100;
  return CreateFontIndirectW(&face);
}

// The pairs of shown controls whose places overlap (a frame overlaps what it holds).
std::set<std::pair<HWND, HWND>> Overlaps(HWND dialog) {
  std::vector<HWND> shown;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (IsWindowVisible(child)) shown.push_back(child);
  }
  std::set<std::pair<HWND, HWND>> pairs;
  for (HWND a : shown) {
    for (HWND b : shown) {
      RECT placeA = PlaceOf(a), placeB = PlaceOf(b), both{};
      if (a < b && IntersectRect(&both, &placeA, &placeB)) pairs.insert({a, b});
    }
  }
  return pairs;
}

// A face a good deal wider than the layout's cuts captions of check boxes, buttons and
// labels in both views; each is widened as far as its room allows. In the tests' prefix
// four have too little room for it and keep the layout: the label before the percentage,
// "+Enter" and "Cancel Update" at their frame's edge, the panel's "Update Firmware" before
// "Cancel Update".
TEST(WinCaptions, AWiderFaceIsGivenTheRoomThereIsAndNoControlOverlapsAnother) {
  struct Font {
    HFONT handle = nullptr;
    ~Font() { DeleteObject(handle); }
  } wide;  // made before the window, so that it outlives the controls that draw with it
  Win32Window window(InstanceTag("wide-captions"));
  window.Show();
  window.SetServiceView(true);
  const std::set<std::pair<HWND, HWND>> overlapsBefore = Overlaps(window.Handle());
  constexpr int kProgressLabel = 1056;
  const std::set<int> tooLittleRoom = {kProgressLabel, ctl::kPlusEnter, ctl::kCancelUpdate,
                                       ctl::kUpdateUsbFirmware};
  wide.handle = WiderFont(window.Control(ctl::kOpen), 140);
  for (HWND child = GetWindow(window.Handle(), GW_CHILD); child;
       child = GetWindow(child, GW_HWNDNEXT)) {
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(wide.handle), FALSE);
  }
  // Maximised, as the window is laid out again, every caption is fitted again.
  ShowWindow(window.Handle(), SW_MAXIMIZE);
  PumpUntil(window, [] { return true; });
  ASSERT_TRUE(IsZoomed(window.Handle()));
  EXPECT_EQ(CaptionsCut(window, tooLittleRoom), "");
  EXPECT_EQ(Overlaps(window.Handle()), overlapsBefore);
}

}  // namespace
}  // namespace morlane::win::test
