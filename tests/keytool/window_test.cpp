// The key tool's window under the offscreen platform: controls, painted pixels, colours, status,
// closing and start-up, found by control id and checked through the widgets and grab().
#include "keytool/window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <ostream>
#include <vector>

#include "keytool/key_panel.h"
#include "tests/keytool/window_fixture.h"

namespace {

using keytool::ControlName;
using keytool::KeyToolWindow;
using panel::PromptAnswer;
using namespace testing_gui;

TEST_F(KeyToolWindowTest, ControlsStandInOrderWithIdPlaceTextKindAndFont) {
  enum Kind { kClick, kStatic, kPath };
  const struct {
    int id, left, top, width, height;
    const char* text;
    Kind kind;
  } controls[] = {{10, 14, 27, 43, 20, "Hide", kClick},
                  {20, 65, 27, 65, 20, "Encrypt", kClick},
                  {30, 138, 27, 58, 20, "256 Bits", kClick},
                  {40, 258, 27, 74, 20, "Start", kClick},
                  {50, 204, 27, 46, 20, "CTR", kClick},
                  {60, 14, 55, 55, 20, "Open", kStatic},
                  {70, 14, 83, 55, 20, "Save As", kClick},
                  {61, 69, 55, 462, 20, "", kPath},
                  {71, 69, 83, 462, 20, "", kPath},
                  {62, 534, 55, 20, 20, "x", kClick},
                  {72, 534, 83, 20, 20, "x", kClick},
                  {120, 138, 113, 416, 20, "Initialization Vector", kStatic},
                  {130, 138, 161, 416, 20, "256 Bit Key", kStatic},
                  {140, 0, 250, 130, 23, kRestingTitle, kStatic},
                  {141, 138, 250, 412, 23, keytool::kInfoLine, kStatic},
                  {142, 552, 250, 16, 23, "H", kClick}};
  QFont segoe("Segoe UI");
  segoe.setPixelSize(17);
  const bool haveSegoe = QFontInfo(segoe).family().startsWith("Sego");
  acceleration_.text[0] = 'H';
  Make();
  for (const auto& e : controls) {
    SCOPED_TRACE(e.id);
    QWidget* w = Control(e.id);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), QRect(e.left, e.top, e.width, e.height));
    EXPECT_EQ(qobject_cast<panel::StaticButton*>(w) != nullptr, e.kind == kClick);
    EXPECT_EQ(w->font().family(), haveSegoe ? "Segoe UI" : "Tahoma");
    EXPECT_LE(QFontMetrics(w->font()).height(), haveSegoe ? 17 : 16);  // the cell height
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      EXPECT_EQ(e.kind, kPath);
      EXPECT_TRUE(edit->isReadOnly());
      EXPECT_FALSE(edit->hasFrame());
    } else {
      EXPECT_EQ(Text(e.id), e.text);
      EXPECT_EQ(Control<QLabel>(e.id)->alignment() & Qt::AlignHorizontal_Mask,
                e.id == 141 ? Qt::AlignLeft : Qt::AlignHCenter);
    }
  }
  EXPECT_EQ(Control(1)->geometry(), QRect(0, 0, 574, 301));  // FocusSink
  const int rowTop[3] = {132, 180, 200};                     // IV row, first and second key rows
  for (int i = 0; i < keytool::kCellCount; ++i) {
    SCOPED_TRACE(i);
    auto* cell = Control<keytool::DigitCell>(1000 + i);
    ASSERT_NE(cell, nullptr);
    const int column = i % 32;  // two touching digits per byte, bytes 26 pixels apart
    EXPECT_EQ(cell->geometry(),
              QRect(141 + 26 * (column / 2) + 10 * (column % 2), rowTop[i / 32], 10, 20));
    EXPECT_EQ(cell->text(), "0");
    EXPECT_EQ(cell->maxLength(), 1);
    EXPECT_EQ(cell->font().family(), "Courier New");
    EXPECT_LE(QFontMetrics(cell->font()).height(), 17);
  }
  const char* buttonTexts[6] = {"Load", "Save", "Rand", "Copy", "Paste", "Zero"};
  const int buttonTop[4] = {111, 131, 179, 199};
  for (int k = 0; k < 12; ++k) {
    auto* button = Control<panel::StaticButton>(100 + k);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->geometry(), QRect(14 + 40 * (k % 3), buttonTop[k / 3], 40, 20)) << k;
    EXPECT_EQ(button->text(), buttonTexts[k % 6]);
  }
  // Creation order, which is also the order Tab walks the cells in.
  std::vector<int> order = {1, 10, 20, 30, 40, 50, 60, 70, 61, 71, 62, 72, 120, 130};
  for (int id = 1000; id < 1096; ++id)
    order.push_back(id);
  for (int id = 100; id < 112; ++id)
    order.push_back(id);
  order.insert(order.end(), {140, 141, 142});
  std::vector<int> actual;
  for (QObject* child : window_->children())
    if (child->isWidgetType()) actual.push_back(child->objectName().mid(2).toInt());
  EXPECT_EQ(actual, order);

  EXPECT_EQ(window_->windowTitle(), "AES Moltra");
  EXPECT_EQ(window_->minimumSize(), QSize(574, 271));
  EXPECT_EQ(window_->maximumSize(), QSize(574, 271));
  EXPECT_FALSE(window_->windowIcon().isNull());
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(window_->pos(),
            QPoint(area.x() + area.width() / 2 - 287, area.y() + area.height() / 2 - 150));
}

TEST(KeyToolFonts, SegoeIsKeptOnlyWhenTheRealisedFaceStartsWithSego) {
  const struct {
    const char* realised;
    const char* family;
    int pixels;
  } cases[] = {{"Segoe UI", "Segoe UI", 17},  {"Segoe UI Variable", "Segoe UI", 17},
               {"DejaVu Sans", "Tahoma", 16}, {"segoe ui", "Tahoma", 16},
               {"Seg", "Tahoma", 16},         {"", "Tahoma", 16}};
  for (const auto& c : cases) {
    const QFont font = panel::ChooseLabelFont(c.realised);
    EXPECT_EQ(font.family(), c.family) << c.realised;
    // The height is the cell height: the line fits it, and one pixel more would not.
    EXPECT_LE(QFontMetrics(font).height(), c.pixels) << c.realised;
    QFont larger = font;
    larger.setPixelSize(font.pixelSize() + 1);
    EXPECT_GT(QFontMetrics(larger).height(), c.pixels) << c.realised;
  }
}

TEST_F(KeyToolWindowTest, BackgroundPixelsFollowThePaintingSteps) {
  const char *field = "#C9C9C9", *dark = "#848484", *light = "#E9E9E9", *box = "#CECECE";
  const struct {
    int x, y;
    const char* colour;
  } probes[] = {
      // clang-format off
      // The field, and the work-area frame: dark line, light 2-pixel edge inside it.
      {3, 3, field}, {570, 100, field}, {0, 0, dark}, {1, 100, light}, {2, 100, light},
      {566, 100, dark}, {567, 100, light}, {300, 244, dark}, {300, 245, light}, {300, 246, field},
      // The Start box: dark-light on its top and left, and again on its bottom and right.
      {258, 35, dark}, {259, 35, light}, {260, 35, light}, {261, 40, box}, {330, 35, dark},
      {331, 35, light}, {300, 27, dark}, {300, 29, light}, {300, 45, dark}, {300, 46, light},
      // The input box seen through its transparent edit; the copied key panel.
      {300, 62, box}, {532, 62, dark}, {14, 185, dark}, {15, 185, light}, {138, 185, dark},
      {162, 196, dark}, {138, 205, dark}, {145, 170, field}, {554, 140, field},
      // Status boxes: dark top and left, light bottom and right, the field between them.
      {0, 269, dark}, {60, 248, dark}, {3, 268, "#D3D3D3"}, {129, 260, light}, {60, 270, light},
      {131, 260, field}, {549, 260, light}, {551, 260, field}, {552, 260, dark}, {567, 260, light},
      // clang-format on
  };
  Make();
  ShowActive(*window_);
  const QImage shot = window_->grab().toImage();
  for (const auto& p : probes)
    EXPECT_EQ(Hex(shot.pixelColor(p.x, p.y)), p.colour) << "at " << p.x << "," << p.y;
  SaveArtifact(*window_, "keytool_default.png");
}

TEST_F(KeyToolWindowTest, ModeDashMovesOneGroupPerModeAndReturnsAfterPcbc) {
  const char* longNames[7] = {"Counter",
                              "Galois Counter",
                              "Output Feedback",
                              "Cipher Feedback (128)",
                              "Cipher Block Chaining",
                              "Electronic Codebook",
                              "Propagating Cipher Block Chaining"};
  Make();
  for (int step = 0; step <= 7; ++step) {
    const int mode = step % 7;
    const QImage shot = window_->grab().toImage();
    for (int x = 206; x < 248; ++x) {  // seven groups of five, one pixel of box between
      const bool inGroup = (x - 206) % 6 < 5;
      const char* expected = !inGroup ? "#CECECE" : (x - 206) / 6 == mode ? "#000000" : "#A0A0A0";
      EXPECT_EQ(Hex(shot.pixelColor(x, 44)), expected) << "mode " << mode << " x " << x;
    }
    Click(50);
    EXPECT_EQ(Text(141), longNames[(mode + 1) % 7]);
  }
}

TEST_F(KeyToolWindowTest, TextColoursFollowDirectionReadinessJobAndMode) {
  Make();
  EXPECT_EQ(Colour(20), "#050505");
  Click(20);
  EXPECT_EQ(Colour(20), "#EFEFEF");
  for (int id : {120, 130})
    EXPECT_EQ(Colour(id), "#5D5D5D");
  for (int id : {61, 71})
    EXPECT_EQ(Colour(id), "#6461C0");
  for (int id : {10, 30, 50, 60, 70, 62, 72, 100, 111, 140, 141, 142})
    EXPECT_EQ(Colour(id), "#050505") << id;

  const struct {  // Start: green only with both files chosen and no job running
    const char *input, *output;
    bool idle;
    const char* colour;
  } start[] = {{"", "", true, "#DD0000"},        {"/in", "", true, "#DD0000"},
               {"/in", "/out", true, "#008000"}, {"/in", "/out", false, "#DD0000"},
               {"", "/out", true, "#DD0000"},    {"/in", "/out", true, "#008000"}};
  for (const auto& s : start) {
    window_->SetInputPath(s.input);
    window_->SetOutputPath(s.output);
    window_->SetIdleFlag(s.idle);
    EXPECT_EQ(Colour(40), s.colour) << s.input << " " << s.output << " " << s.idle;
  }
  // The colour is the one drawn, not only the one stored.
  const QImage startBox = window_->grab(QRect(258, 27, 74, 20)).toImage();
  bool drawnGreen = false;
  for (int y = 0; y < startBox.height(); ++y)
    for (int x = 0; x < startBox.width(); ++x)
      drawnGreen = drawnGreen || Hex(startBox.pixelColor(x, y)) == "#008000";
  EXPECT_TRUE(drawnGreen);

  for (int step = 0; step < 5; ++step)
    Click(50);  // to ECB: the IV buttons take the box colour
  for (int id = 100; id < 112; ++id)
    EXPECT_EQ(Colour(id), id < 106 ? "#CECECE" : "#050505");
  Click(50);  // PCBC brings them back
  for (int id = 100; id < 106; ++id)
    EXPECT_EQ(Colour(id), "#050505") << id;
}

TEST_F(KeyToolWindowTest, StatusReturnsAfterItsPeriodAndASecondMessageRestartsIt) {
  Make();
  panel::StatusRow& status = window_->Status();
  EXPECT_EQ(status.Timer().interval(), 10000);
  window_->ShowStatus("Zero Key", "Successful");
  QTest::qWait(300);
  const int firstRemaining = status.Timer().remainingTime();
  window_->ShowStatus("Zero IV", "Successful");
  EXPECT_GT(status.Timer().remainingTime(), firstRemaining + 200);  // a new full period

  status.SetInterval(40);
  window_->ShowStatus("Key Size", "128 Bits");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Text(140) == kRestingTitle; }, 5000));
  EXPECT_EQ(Text(141), "https://example.org/aes-suite");  // the address alone from now on
  EXPECT_FALSE(status.Timer().isActive());
}

TEST_F(KeyToolWindowTest, StatusTicksDuringAJobAreIgnoredAndTheNextIdleTickRestores) {
  Make();
  window_->Status().SetInterval(20);
  window_->ShowStatus("Encrypting", "Working - 042%");
  window_->SetIdleFlag(false);
  QTest::qWait(200);  // several ticks
  EXPECT_EQ(Text(140), "Encrypting");
  window_->SetIdleFlag(true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Text(140) == kRestingTitle; }, 5000));
}

TEST_F(KeyToolWindowTest, CloseAsksWithNoAsDefaultNoKeepsTheWindowAndAJobRefuses) {
  Make();
  ShowActive(*window_);
  prompts_.QueueAnswer(PromptAnswer::No);
  EXPECT_FALSE(window_->close());
  EXPECT_TRUE(window_->isVisible());
  ASSERT_EQ(prompts_.Records().size(), 1u);
  const panel::MessageRequest& asked = prompts_.Records()[0].request;
  EXPECT_EQ(asked.text, "Are You Sure?");
  EXPECT_EQ(asked.caption, " Exit Confirmation");
  EXPECT_EQ(asked.buttons, panel::PromptButtons::YesNo);
  EXPECT_EQ(asked.defaultButton, PromptAnswer::No);
  EXPECT_EQ(asked.icon, panel::PromptIcon::None);

  window_->SetIdleFlag(false);  // refused without asking
  EXPECT_FALSE(window_->close());
  EXPECT_EQ(prompts_.Records().size(), 1u);
  window_->SetIdleFlag(true);
  prompts_.QueueAnswer(PromptAnswer::Yes);
  EXPECT_TRUE(window_->close());
}

TEST_F(KeyToolWindowTest, SettingLabelsCycleAndLockedOnesIgnoreClicks) {
  const struct {
    int id;
    keytool::LockMask lock;
    std::vector<const char*> texts;  // after each click
    const char* statusTitle;
  } cycles[] = {{30, keytool::kLockKeySize, {"128 Bits", "192 Bits", "256 Bits"}, "Key Size"},
                {50,
                 keytool::kLockMode,
                 {"GCM", "OFB", "CFB", "CBC", "ECB", "PCBC", "CTR"},
                 "Mode of Operation"},
                {10, 0, {"Show", "Hide"}, "Confidential Mode"},
                {20, 0, {"Decrypt", "Encrypt"}, "Command"}};
  for (const auto& c : cycles) {
    SCOPED_TRACE(c.id);
    settings_ = {};
    Make();
    for (const char* text : c.texts) {
      Click(c.id);
      EXPECT_EQ(Text(c.id), text);
      EXPECT_EQ(Text(140), c.statusTitle);
    }
    if (c.lock == 0) continue;
    settings_ = {};
    settings_.locks = c.lock;
    Make();
    const QString before = Text(c.id);
    Click(c.id);
    EXPECT_EQ(Text(c.id), before);
    EXPECT_EQ(Text(140), kRestingTitle);  // nothing shown either
  }
  settings_ = {};
  Make();
  Click(30);
  EXPECT_EQ(Text(130), "128 Bit Key");
  Click(10);  // confidential: every cell and both paths show '-'
  window_->SetInputPath("/tmp/in");
  EXPECT_EQ(Control<QLineEdit>(1000)->displayText(), "-");
  EXPECT_EQ(Control<QLineEdit>(61)->displayText(), "-------");
  EXPECT_EQ(Text(141), "On");
}

TEST_F(KeyToolWindowTest, FocusStartsOnTheFirstCellAndCommandsParkItOnTheSink) {
  Make();
  ShowActive(*window_);
  EXPECT_TRUE(Control(1000)->hasFocus());
  EXPECT_EQ(Colour(1000), "#0000FF");
  EXPECT_EQ(Hex(window_->grab().toImage().pixelColor(145, 132 + 15)), "#000000");  // underline
  Control(1005)->setFocus();
  EXPECT_EQ(Colour(1000), "#050505");
  Click(20);
  EXPECT_TRUE(Control(1)->hasFocus());
  EXPECT_EQ(Colour(1005), "#050505");
  // Coming back to the window gives the focus to the remembered cell, not to the sink.
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(window_.get(), &activate);
  EXPECT_TRUE(Control(1005)->hasFocus());
}

TEST(KeyToolStartup, ProcessorWithoutSse2IsRefusedWithTheErrorBox) {
  testing_gui::ScriptedPrompts prompts;
  keytool::KeyToolSettings settings;
  engine::AccelerationSetting acceleration;
  EXPECT_EQ(keytool::StartKeyTool(engine::CpuFeaturesFromWords(0x00800000u, 0), settings,
                                  acceleration, prompts),
            nullptr);
  ASSERT_EQ(prompts.Records().size(), 1u);
  const panel::MessageRequest& box = prompts.Records()[0].request;
  EXPECT_EQ(box.text, "The CPU needs MMX and SSE2 which was not found");
  EXPECT_EQ(box.caption, "Error");
  EXPECT_EQ(box.icon, panel::PromptIcon::Error);
  EXPECT_EQ(box.buttons, panel::PromptButtons::Ok);
}

TEST(KeyToolStartup, ConfigIniInTheWorkingDirectoryPresetsTheWindow) {
  QTemporaryDir folder;
  QFile file(folder.filePath("config.ini"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("Decrypt\r\nKey Size 128\r\nMode GCM\r\nHide\r\nLock Mode\r\n");
  file.close();
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(folder.path()));
  testing_gui::ScriptedPrompts prompts;
  keytool::KeyToolSettings settings;
  engine::AccelerationSetting acceleration;
  const engine::CpuFeatures features = engine::ReadCpuFeatures();
  const auto window = keytool::StartKeyTool(features, settings, acceleration, prompts);
  QDir::setCurrent(previous);
  ASSERT_NE(window, nullptr);

  const struct {
    int id;
    const char* text;
  } labels[] = {{20, "Decrypt"}, {30, "128 Bits"}, {130, "128 Bit Key"},
                {50, "GCM"},     {10, "Show"},     {142, features.aes ? "H" : "S"}};
  for (const auto& l : labels)
    EXPECT_EQ(Label(*window, l.id), l.text);
  EXPECT_EQ(Hex(panel::TextColour(window->findChild<QWidget*>(ControlName(20)))), "#EFEFEF");
  EXPECT_EQ(window->findChild<QLineEdit*>(ControlName(1000))->displayText(), "-");
  const QImage shot = window->grab().toImage();
  EXPECT_EQ(Hex(shot.pixelColor(206, 44)), "#A0A0A0");
  EXPECT_EQ(Hex(shot.pixelColor(212, 44)), "#000000");  // GCM's group
  QTest::mouseClick(window->findChild<QWidget*>(ControlName(50)), Qt::LeftButton);
  EXPECT_EQ(Label(*window, 50), "GCM");  // "Lock Mode" froze it

  ShowActive(*window);
  window->SetInputPath("/home/user/report.pdf");
  window->SetOutputPath("/home/user/report.pdf.aes");
  SaveArtifact(*window, "keytool_preset.png");
}

}  // namespace
