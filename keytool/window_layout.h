// The key tool window's tables: every control with its id, text, place and style, the boxes
// painted under them, and the mode indicator's track.
#pragma once

#include <stdint.h>

#include <array>

#include "engine/job.h"
#include "keytool/key_panel.h"
#include "gui/panel.h"
#include "keytool/window.h"

namespace keytool::layout {

enum class ControlClass : uint8_t { Static, Edit, Sedit };
// The styles of the control table that change how a control is built.
enum StyleBit : uint8_t {
  kVisible = 0x01,
  kNotify = 0x02,    // the static reports clicks (a StaticButton)
  kCentre = 0x04,    // centred text; otherwise left-aligned
  kReadOnly = 0x08,  // the path boxes
  kTabStop = 0x10,   // the digit cells
};

struct ControlEntry {
  ControlClass kind;
  int id;
  const char* text;
  int left, top, width, height;
  uint8_t style;
};

constexpr uint8_t kButton = kVisible | kNotify | kCentre;
constexpr uint8_t kLabel = kVisible | kCentre;
constexpr int kControlCount = 1 + 13 + kCellCount + 12 + 3;
constexpr const char* kButtonTexts[6] = {"Load", "Save", "Rand", "Copy", "Paste", "Zero"};
constexpr int kButtonRowTops[4] = {111, 131, 179, 199};  // IV rows, then key rows

// Every control in creation order; the texts that follow the settings are set after creation.
constexpr std::array<ControlEntry, kControlCount> BuildControlTable() {
  std::array<ControlEntry, kControlCount> t{};
  int n = 0;
  t[n++] = {ControlClass::Static, kFocusSinkId, "", 0, 0, 574, 301, 0};
  t[n++] = {ControlClass::Static, kConfidentialId, "Hide", 14, 27, 43, 20, kButton};
  t[n++] = {ControlClass::Static, kDirectionId, "Encrypt", 65, 27, 65, 20, kButton};
  t[n++] = {ControlClass::Static, kKeySizeId, "256 Bits", 138, 27, 58, 20, kButton};
  t[n++] = {ControlClass::Static, kStartId, "Start", 258, 27, 74, 20, kButton};
  t[n++] = {ControlClass::Static, kModeId, "CTR", 204, 27, 46, 20, kButton};
  t[n++] = {ControlClass::Static, kOpenId, "Open", 14, 55, 55, 20, kLabel};
  t[n++] = {ControlClass::Static, kSaveAsId, "Save As", 14, 83, 55, 20, kButton};
  t[n++] = {ControlClass::Edit, kInputPathId, "", 69, 55, 462, 20, kVisible | kReadOnly};
  t[n++] = {ControlClass::Edit, kOutputPathId, "", 69, 83, 462, 20, kVisible | kReadOnly};
  t[n++] = {ControlClass::Static, kClearInputId, "x", 534, 55, 20, 20, kButton};
  t[n++] = {ControlClass::Static, kClearOutputId, "x", 534, 83, 20, 20, kButton};
  t[n++] = {ControlClass::Static, kIvLabelId, "Initialization Vector", 138, 113, 416, 20, kLabel};
  t[n++] = {ControlClass::Static, kKeyLabelId, "256 Bit Key", 138, 161, 416, 20, kLabel};
  // Cells: 32 per row; the two digits of a byte touch, bytes are 6 pixels apart.
  for (int i = 0, left = 141; i < kCellCount; ++i) {
    const int column = i % 32;
    if (column == 0)
      left = 141;
    else
      left += (column - 1) % 2 == 0 ? 10 : 16;
    const int top = i < 32 ? 132 : i < 64 ? 180 : 200;
    t[n++] = {
        ControlClass::Sedit,          kFirstCellId + i, "0", left, top, kCellWidth, kCellHeight,
        kVisible | kCentre | kTabStop};
  }
  for (int k = 0; k < 12; ++k) {
    t[n++] = {ControlClass::Static,
              kFirstButtonId + k,
              kButtonTexts[k % 6],
              14 + 40 * (k % 3),
              kButtonRowTops[k / 3],
              40,
              20,
              kButton};
  }
  t[n++] = {ControlClass::Static, kStatusLine1Id, kStatusTitle, 0, 250, 130, 23, kLabel};
  t[n++] = {ControlClass::Static, kStatusLine2Id, kInfoLine, 138, 250, 412, 23, kVisible};
  t[n++] = {ControlClass::Static, kAccelIndicatorId, "H", 552, 250, 16, 23, kButton};
  return t;
}
inline constexpr auto kControls = BuildControlTable();

// The boxes under the controls; only the IV panel is here, the key panel is copied from it.
constexpr std::array<panel::ControlBox, 33> BuildControlBoxes() {
  std::array<panel::ControlBox, 33> b{{
      {14, 27, 43},   // confidential toggle
      {65, 27, 65},   // direction
      {138, 27, 58},  // key size
      {204, 27, 46},  // mode
      {258, 27, 74},  // Start
      {14, 55, 55},   // Open
      {69, 55, 465},  // input path
      {534, 55, 20},  // clear input
      {14, 83, 55},   // Save As
      {69, 83, 465},  // output path
      {534, 83, 20},  // clear output
      {14, 111, 40},  // IV Load
      {54, 111, 40},  // IV Save
      {94, 111, 40},  // IV Rand
      {14, 131, 40},  // IV Copy
      {54, 131, 40},  // IV Paste
      {94, 131, 40},  // IV Zero
  }};
  for (int k = 0; k < 16; ++k)
    b[17 + k] = {138 + 26 * k, 131, 26};  // the IV byte boxes
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

inline constexpr const char* kModeNames[7] = {"CTR", "GCM", "OFB", "CFB", "CBC", "ECB", "PCBC"};
inline constexpr const char* kModeLongNames[7] = {"Counter",
                                                  "Galois Counter",
                                                  "Output Feedback",
                                                  "Cipher Feedback (128)",
                                                  "Cipher Block Chaining",
                                                  "Electronic Codebook",
                                                  "Propagating Cipher Block Chaining"};
inline constexpr int kKeyBits[3] = {128, 192, 256};

}  // namespace keytool::layout
