// The passphrase window under the offscreen platform: controls and painted look, the passphrase
// match and its colours, confidential mode and the file choices.
#include <QClipboard>
#include <QImage>
#include <QScreen>

#include <vector>

#include "tests/passtool/window_driver.h"

namespace testing_gui {
namespace {

TEST_F(PassphraseWindowTest, IdleWindowHasItsControlsInOrderAndItsPaintedLook) {
  const std::vector<int> order = {1,  10, 20, 30, 40, 50, 41, 51, 42, 52,
                                  60, 70, 80, 71, 81, 72, 82, 90, 91};
  std::vector<int> actual;
  for (QObject* child : window_->children())
    if (child->isWidgetType()) actual.push_back(child->objectName().mid(2).toInt());
  EXPECT_EQ(actual, order);
  for (int id : order)  // Tab moves between the two passphrase edits only
    EXPECT_EQ((Control(id)->focusPolicy() & Qt::TabFocus) != 0, id == 71 || id == 81) << id;
  EXPECT_EQ(Control(70)->font().family(), "Courier New");
  EXPECT_EQ(window_->size(), QSize(574, 230));
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(window_->pos(),
            QPoint(area.x() + area.width() / 2 - 287, area.y() + area.height() / 2 - 130));
  EXPECT_EQ(engine::CurrentAesBackend().decrypt, nullptr);  // it only ever enciphers
  Show();
  EXPECT_TRUE(Edit(71)->hasFocus());

  const char *field = "#C9C9C9", *dark = "#848484", *light = "#E9E9E9", *box = "#CECECE";
  const struct {
    int x, y;
    const char* colour;
  } probes[] = {
      // clang-format off
      // The frame's foot above the status row; the copied output and second passphrase rows.
      {300, 203, dark}, {300, 204, light}, {300, 205, field}, {69, 90, dark}, {70, 90, light},
      {14, 165, dark}, {300, 158, dark}, {555, 165, field},
      // The passphrase edits are opaque in the box colour and leave the box's edges alone.
      {300, 140, box}, {300, 132, light}, {300, 149, dark}, {300, 150, light},
      // Status boxes: dark top and left, light bottom and right.
      {0, 220, dark}, {3, 226, "#D3D3D3"}, {129, 220, light}, {131, 220, field}, {567, 220, light},
      // clang-format on
  };
  const QImage shot = window_->grab().toImage();
  for (const auto& p : probes)
    EXPECT_EQ(Hex(shot.pixelColor(p.x, p.y)), p.colour) << "at " << p.x << "," << p.y;
  SaveArtifact("passtool_idle.png");
}

TEST_F(PassphraseWindowTest, EntriesMatchOnlyWhenEqualAndNonEmptyCountingBytes) {
  const struct {
    QString first, second;
    const char* count;
    bool match;
  } cases[] = {
      {"", "", "000", false},  // two empty entries do not match
      {"correct horse1", "correct horse2", "014", false},
      {"correct horse1", "correct horse1", "014", true},
      {"Grüße €", "Grüße €", "011", true},  // UTF-8 bytes, not characters
      {"Grüße €", "Grüsse €", "011", false},
  };
  Choose(40, "/tmp/in");
  Choose(50, "/tmp/out");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first.toStdString() + " / " + c.second.toStdString());
    Click(72);
    Click(82);
    Type(71, c.first);
    Type(81, c.second);
    EXPECT_EQ(Text(70), c.count);
    EXPECT_EQ(Text(80), c.count);
    for (int id : {71, 81, 30})
      EXPECT_EQ(Colour(id), c.match ? kGreen : kRed) << id;
  }
  Click(52);  // without an output Start turns red
  EXPECT_EQ(Colour(30), kRed);
  EXPECT_EQ(Text(91), "Removed");

  // 512 bytes fill an edit: the 513th is refused, and so is a two-byte character at 511.
  Click(72);
  Type(71, QString(513, 'a'));
  EXPECT_EQ(Edit(71)->text(), QString(512, 'a'));
  EXPECT_EQ(Text(70), "512");
  EXPECT_EQ(Text(91), "Removed");  // typing past the limit is refused quietly
  Click(82);
  Type(81, QString(511, 'a') + "éa");
  EXPECT_EQ(Edit(81)->text(), QString(512, 'a'));
  EXPECT_EQ(window_->FirstEntry().length, 512u);
  Choose(50, "/tmp/out");
  EXPECT_EQ(Colour(30), kGreen);
  Show();
  SaveArtifact("passtool_matching.png");

  // A paste that would pass 512 bytes is refused whole and said so; one that fits is taken.
  const struct {
    QString clip;
    bool shortcut;  // Ctrl+V, or the edit's own Paste (its context menu's)
    QString after;
  } pastes[] = {{QString(600, 'p'), true, "ab"},
                {QString(300, u'é'), false, "ab"},
                {QString(510, 'p'), true, "ab" + QString(510, 'p')}};
  for (const auto& p : pastes) {
    Click(82);
    Type(81, "ab");
    window_->ShowStatus("Title", "Message");
    QGuiApplication::clipboard()->setText(p.clip);
    if (p.shortcut)
      QTest::keyClick(Edit(81), Qt::Key_V, Qt::ControlModifier);
    else
      Edit(81)->paste();
    EXPECT_EQ(Edit(81)->text(), p.after);
    EXPECT_EQ(Text(90) + " | " + Text(91),
              QString(p.after == "ab" ? "Second Passphrase | Error - The passphrase would be "
                                        "longer than 512 bytes"
                                      : "Title | Message"));
  }

  Click(72);  // clearing breaks the match; clearing an empty entry does nothing at all
  EXPECT_EQ(Text(90), "First Passphrase");
  EXPECT_EQ(Colour(81), kRed);
  window_->ShowStatus("Title", "Message");
  Click(72);
  EXPECT_EQ(Text(90), "Title");
}

TEST_F(PassphraseWindowTest, ConfidentialModeHidesEntriesPathsAndCounts) {
  Choose(40, "/home/user/Documents/report.pdf");
  Choose(50, "/home/user/Documents/report.pdf.sealed");
  Type(71, "correct horse battery staple");
  Type(81, "correct horse battery staple");
  SaveArtifact("guide_aespraxel.png");  // the user's guide shows this one
  Click(72);
  Click(82);
  Choose(40, "/tmp/in");
  Choose(50, "/tmp/out");
  Type(71, "pässword");
  Type(81, "pässword!");
  Click(10);
  EXPECT_EQ(Text(10), "Show");
  EXPECT_EQ(Text(91), "On");
  const std::vector<QString> shown = {"/tmp/in", "/tmp/out", "pässword", "pässword!"};
  const int edits[4] = {41, 51, 71, 81};
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(Edit(edits[i])->displayText(), QString(shown[i].size(), '-'));
  EXPECT_EQ(Text(70), "---");
  EXPECT_EQ(Text(80), "---");
  EXPECT_EQ(Colour(81), kRed);
  Click(10);
  EXPECT_EQ(Text(10), "Hide");
  EXPECT_EQ(Text(91), "Off");
  EXPECT_EQ(Text(70), "009");
  EXPECT_EQ(Text(80), "010");
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(Edit(edits[i])->displayText(), shown[i]);
}

TEST_F(PassphraseWindowTest, FileChoicesRefuseTheSameFileAndTheLastChoiceGoes) {
  Choose(40, "/tmp/a");
  EXPECT_EQ(Text(91), "Set");
  Choose(50, "/tmp/a");  // the output goes
  EXPECT_EQ(Edit(51)->text(), "");
  EXPECT_EQ(Text(90), "Error");
  EXPECT_EQ(Text(91), "Input and output can not be the same file");
  EXPECT_EQ(prompts_.Records().back().request.text, "Input and output can not be the same file");
  Choose(50, "/tmp/A");                                     // names compared byte for byte
  Choose(40, "/tmp/A");                                     // the input goes
  EXPECT_EQ(prompts_.Records()[4].request.text, "/tmp/a");  // the dialog starts from the path
  EXPECT_EQ(Edit(41)->text(), "");
  EXPECT_EQ(Edit(51)->text(), "/tmp/A");
  Choose(40, QString(260, 'p'));  // the job holds 259 bytes: refused, nothing chosen
  EXPECT_EQ(prompts_.Records().back().request.text, "The path is too long: at most 259 bytes");
  EXPECT_EQ(Edit(41)->text(), "");
}

}  // namespace
}  // namespace testing_gui
