// The passphrase window's tables: every control with its id, text, place and style in creation
// order, and the boxes painted under them.
#pragma once

#include <stdint.h>

#include "gui/panel.h"
#include "gui/window_input.h"
#include "passtool/window.h"

namespace passtool::layout {

enum class ControlClass : uint8_t { Sink, Static, PathEdit, PassphraseEdit };
enum StyleBit : uint8_t {
  kNotify = 0x01,  // the static reports clicks (a StaticButton)
  kCentre = 0x02,  // centred text; otherwise left-aligned
};

struct ControlEntry {
  ControlClass kind;
  int id;
  const char* text;
  int left, top, width, height;
  uint8_t style;
  const char* name = nullptr;  // for assistive technology, where the text does not say it
};

constexpr uint8_t kButton = kNotify | kCentre;
constexpr int kPathBoxWidth = 465;        // the path edits fill their boxes
constexpr int kPassphraseBoxWidth = 488;  // the edit, 484 wide, sits in the label's box row

// Creation order: the length labels come before the edits they count.
inline constexpr ControlEntry kControls[] = {
    {ControlClass::Sink, kFocusSinkId, "", 0, 0, 574, 260, 0},
    {ControlClass::Static, kConfidentialId, "Hide", 14, 27, 43, 20, kButton},
    {ControlClass::Static, kDirectionId, "Encrypt", 65, 27, 65, 20, kButton},
    {ControlClass::Static, kStartId, "Start", 138, 27, 74, 20, kButton},
    {ControlClass::Static, kOpenId, "Open", 14, 55, 55, 20, kButton},
    {ControlClass::Static, kSaveAsId, "Save As", 14, 83, 55, 20, kButton},
    {ControlClass::PathEdit, kInputPathId, "", 69, 55, kPathBoxWidth, 20, 0, "Input file"},
    {ControlClass::PathEdit, kOutputPathId, "", 69, 83, kPathBoxWidth, 20, 0, "Output file"},
    {ControlClass::Static, kClearInputId, "x", 534, 55, 20, 20, kButton, "Clear input file"},
    {ControlClass::Static, kClearOutputId, "x", 534, 83, 20, 20, kButton, "Clear output file"},
    {ControlClass::Static, kPromptId, "Enter the passphrase twice", 46, 113, 488, 20, kCentre},
    {ControlClass::Static, kFirstLengthId, "000", 14, 132, 32, 20, kCentre},
    {ControlClass::Static, kSecondLengthId, "000", 14, 159, 32, 20, kCentre},
    {ControlClass::PassphraseEdit, kFirstPassphraseId, "", 48, 131, 484, 20, 0, "Passphrase"},
    {ControlClass::PassphraseEdit, kSecondPassphraseId, "", 48, 158, 484, 20, 0,
     "Passphrase again"},
    {ControlClass::Static, kClearFirstId, "x", 534, 131, 20, 20, kButton, "Clear passphrase"},
    {ControlClass::Static, kClearSecondId, "x", 534, 158, 20, 20, kButton,
     "Clear passphrase again"},
    {ControlClass::Static, kStatusLine1Id, kStatusTitle, 0, 209, 130, 23, kCentre},
    {ControlClass::Static, kStatusLine2Id, kInfoLine, 138, 209, 430, 23, 0},
};

// The boxes of the input row and the first passphrase row; the output row and the second
// passphrase row are copies of them.
inline constexpr panel::ControlBox kControlBoxes[] = {
    {14, 27, 43},                    // confidential toggle
    {65, 27, 65},                    // direction
    {138, 27, 74},                   // Start
    {14, 55, 55},                    // Open
    {69, 55, kPathBoxWidth},         // input path
    {534, 55, 20},                   // remove input
    {14, 131, 32},                   // first length label
    {46, 131, kPassphraseBoxWidth},  // first passphrase
    {534, 131, 20},                  // clear first passphrase
};

inline constexpr panel::StatusBox kStatusBoxes[2] = {{0, 207, 130, 230}, {132, 207, 568, 230}};

// The work-area frame's outer corner, right and bottom.
constexpr int kFrameRight = 568;
constexpr int kFrameBottom = 205;

// Keys that click a control, from either passphrase edit too.
inline constexpr panel::Shortcut kShortcuts[] = {{Qt::CTRL | Qt::Key_O, kOpenId},
                                                 {Qt::CTRL | Qt::Key_S, kSaveAsId},
                                                 {Qt::CTRL | Qt::Key_Return, kStartId},
                                                 {Qt::CTRL | Qt::Key_H, kConfidentialId}};

}  // namespace passtool::layout
