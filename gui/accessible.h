// What assistive technology is told about the painted controls: a StaticButton reports the button
// role and a press action that clicks it.
#pragma once

class QWidget;

namespace panel {

// Once per process, before the first StaticButton is asked for: its interface is named by the
// control's accessible name or else its text (a set name also reports the text as the value, such
// as the H or S of the indicator), and its press action clicks it, so the action does whatever a
// click does.
void InstallButtonAccessibility();

// A left-button press and release in the middle of `control`, with no key held: what a click
// sends. A control that ignores the press passes it to the window, as a real click does.
void ClickControl(QWidget* control);

}  // namespace panel
