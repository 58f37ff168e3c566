// aespraxel: processor check, the encrypt routine, AES tables, the window with the file named on
// the command line, and its event loop.
#include <QApplication>

#include "engine/backend.h"
#include "engine/file.h"
#include "gui/panel.h"
#include "gui/window_input.h"
#include "keys/core_dumps.h"
#include "passtool/window.h"

int main(int argc, char** argv) {
  engine::OpenStandardDescriptors();  // before Qt: a job file must not receive its warnings
  keys::ForbidCoreDumps();
  QApplication app(argc, argv);  // the refusal box needs it too
  static panel::DialogPrompts prompts;
  const std::unique_ptr<passtool::PassphraseWindow> window =
      passtool::StartPassphraseTool(engine::ReadCpuFeatures(), prompts);
  if (window == nullptr) return 0;
  window->show();
  window->OpenPath(panel::PathArgument(QApplication::arguments()));  // Qt's own options are gone
  app.exec();
  return 0;  // whatever happened
}
