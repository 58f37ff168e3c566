// The key tool window's tables: every control with its id, text, place and style, the boxes
// painted under them, and the mode indicator's track.
#pragma once

#include <stdint.h>

#include <array>

#include "engine/job.h"
#include "gui/panel.h"
#include "gui/window_input.h"
#include "keytool/key_panel.h"
#include "keytool/window.h"

namespace keytool::layout {

enum class ControlClass : uint8_t { Static, Edit, Sedit };
// The styles of the control table that change how a control is built.
enum StyleBit : uint8_t {
  kVisible = 0x01,
  kNotify = 0x02,  // the static reports clicks (a StaticButton)
  kCentre = 0x04,  // centred text; otherwise left-aligned
};

struct ControlEntry {
  ControlClass kind;
  int id;
  const char* text;
  int left, top, width, height;
  uint8_t style;
  const char* name = nullptr;  // for assistive technology, where the text does not say it
};

constexpr uint8_t kButton = kVisible | kNotify | kCentre;
constexpr uint8_t kLabel = kVisible | kCentre;
constexpr const char* kButtonTexts[6] = {"Load", "Save", "Rand", "Copy", "Paste", "Zero"};
constexpr const char* kButtonNames[12] = {"IV Load",  "IV Save",  "IV Rand",   "IV Copy",
                                          "IV Paste", "IV Zero",  "Key Load",  "Key Save",
                                          "Key Rand", "Key Copy", "Key Paste", "Key Zero"};
constexpr int kPanelButtonCount = 2 * std::size(kButtonTexts);  // the IV's six, then the key's
constexpr int kButtonRowTops[4] = {111, 131, 179, 199};         // IV rows, then key rows

// The controls before the digit cells, in creation order.
inline constexpr ControlEntry kHeadControls[] = {
    {ControlClass::Static, kFocusSinkId, "", 0, 0, 574, 301, 0},
    {ControlClass::Static, kConfidentialId, "Hide", 14, 27, 43, 20, kButton},
    {ControlClass::Static, kDirectionId, "Encrypt", 65, 27, 65, 20, kButton},
    {ControlClass::Static, kKeySizeId, "256 Bits", 138, 27, 58, 20, kButton},
    {ControlClass::Static, kStartId, "Start", 258, 27, 74, 20, kButton},
    {ControlClass::Static, kModeId, "CTR", 204, 27, 46, 20, kButton},
    {ControlClass::Static, kOpenId, "Open", 14, 55, 55, 20, kLabel},
    {ControlClass::Static, kSaveAsId, "Save As", 14, 83, 55, 20, kButton},
    {ControlClass::Edit, kInputPathId, "", 69, 55, 462, 20, kVisible, "Input file"},
    {ControlClass::Edit, kOutputPathId, "", 69, 83, 462, 20, kVisible, "Output file"},
    {ControlClass::Static, kClearInputId, "x", 534, 55, 20, 20, kButton, "Clear input file"},
    {ControlClass::Static, kClearOutputId, "x", 534, 83, 20, 20, kButton, "Clear output file"},
    {ControlClass::Static, kIvLabelId, "Initialization Vector", 138, 113, 416, 20, kLabel},
    {ControlClass::Static, kKeyLabelId, "256 Bit Key", 138, 161, 416, 20, kLabel},
};
// The status row, created last.
inline constexpr ControlEntry kTailControls[] = {
    {ControlClass::Static, kStatusLine1Id, kStatusTitle, 0, 250, 130, 23, kLabel},
    {ControlClass::Static, kStatusLine2Id, kInfoLine, 138, 250, 412, 23, kVisible},
    {ControlClass::Static, kAccelIndicatorId, "H", 552, 250, 16, 23, kButton, "AES instructions"},
};
constexpr int kControlCount = static_cast<int>(std::size(kHeadControls)) + kCellCount +
                              kPanelButtonCount + static_cast<int>(std::size(kTailControls));

// Every control in creation order; the texts that follow the settings are set after creation.
constexpr std::array<ControlEntry, kControlCount> BuildControlTable() {
  std::array<ControlEntry, kControlCount> t{};
  int n = 0;
  for (const ControlEntry& c : kHeadControls)
    t[n++] = c;
  // Cells: 32 per row; the two digits of a byte touch, bytes are 6 pixels apart.
  for (int i = 0, left = 141; i < kCellCount; ++i) {
    const int column = i % 32;
    if (column == 0)
      left = 141;
    else
      left += (column - 1) % 2 == 0 ? 10 : 16;
    const int top = i < 32 ? 132 : i < 64 ? 180 : 200;
    t[n++] = {ControlClass::Sedit, kFirstCellId + i,  "0", left, top, kCellWidth,
              kCellHeight,         kVisible | kCentre};
  }
  for (int k = 0; k < kPanelButtonCount; ++k) {
    t[n++] = {ControlClass::Static,
              kFirstButtonId + k,
              kButtonTexts[k % 6],
              14 + 40 * (k % 3),
              kButtonRowTops[k / 3],
              40,
              20,
              kButton,
              kButtonNames[k]};
  }
  for (const ControlEntry& c : kTailControls)
    t[n++] = c;
  return t;
}
inline constexpr auto kControls = BuildControlTable();
static_assert([] {
  for (const ControlEntry& c : kControls)
    if (c.kind == ControlClass::Static && c.id >= kStaticIdLimit) return false;
  return true;
}());

constexpr int kPathBoxWidth = 465;  // the path edits fill their boxes
// The work-area frame's outer corner, right and bottom.
constexpr int kFrameRight = 568;
constexpr int kFrameBottom = 246;

// The boxes under the top rows and the IV's buttons; the IV byte boxes follow them, and the key
// panel is copied from the IV panel.
inline constexpr panel::ControlBox kFixedBoxes[] = {
    {14, 27, 43},             // confidential toggle
    {65, 27, 65},             // direction
    {138, 27, 58},            // key size
    {204, 27, 46},            // mode
    {258, 27, 74},            // Start
    {14, 55, 55},             // Open
    {69, 55, kPathBoxWidth},  // input path
    {534, 55, 20},            // clear input
    {14, 83, 55},             // Save As
    {69, 83, kPathBoxWidth},  // output path
    {534, 83, 20},            // clear output
    {14, 111, 40},            // IV Load
    {54, 111, 40},            // IV Save
    {94, 111, 40},            // IV Rand
    {14, 131, 40},            // IV Copy
    {54, 131, 40},            // IV Paste
    {94, 131, 40},            // IV Zero
};
constexpr int kIvByteBoxes = 16;

constexpr std::array<panel::ControlBox, std::size(kFixedBoxes) + kIvByteBoxes> BuildControlBoxes() {
  std::array<panel::ControlBox, std::size(kFixedBoxes) + kIvByteBoxes> b{};
  size_t n = 0;
  for (const panel::ControlBox& box : kFixedBoxes)
    b[n++] = box;
  for (int k = 0; k < kIvByteBoxes; ++k)
    b[n++] = {138 + 26 * k, 131, 26};
  return b;
}
inline constexpr auto kControlBoxes = BuildControlBoxes();

inline constexpr panel::StatusBox kStatusBoxes[3] = {
    {0, 248, 130, 271}, {132, 248, 550, 271}, {552, 248, 568, 271}};

// The mode indicator: seven groups of five pixels on row 44, one per mode.
constexpr int kModeTrackRow = 44;
constexpr int ModeGroupLeft(engine::CipherMode mode) {
  return 206 + 6 * static_cast<int>(mode);
}

inline constexpr int kKeyBits[3] = {128, 192, 256};

// Keys that click a control; the digit cells take no key with Ctrl held.
inline constexpr panel::Shortcut kShortcuts[] = {{Qt::CTRL | Qt::Key_O, kOpenId},
                                                 {Qt::CTRL | Qt::Key_S, kSaveAsId},
                                                 {Qt::CTRL | Qt::Key_Return, kStartId},
                                                 {Qt::CTRL | Qt::Key_H, kConfidentialId}};

}  // namespace keytool::layout
