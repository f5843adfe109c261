#include <gtest/gtest.h>

#include <QDir>

#include "skins/SkinColors.h"
#include "skins/SuiFileTheme.h"

namespace sonarelle {
namespace {

// The five built-in looks and the three shipped theme files, by skin caption, as designed.
std::vector<std::pair<std::string, TSkinColors>> EightLooks() {
  std::vector<std::pair<std::string, TSkinColors>> looks = {
      {"MacOS", BuiltInLook(TsuiUIStyle::MacOS)},
      {"WinXP", BuiltInLook(TsuiUIStyle::WinXP)},
      {"Protein", BuiltInLook(TsuiUIStyle::Protein)},
      {"BlueGlass", BuiltInLook(TsuiUIStyle::BlueGlass)},
      {"DeepBlue", BuiltInLook(TsuiUIStyle::DeepBlue)}};
  const QDir themes(qEnvironmentVariable("SONARELLE_SOURCE_DIR") +
                    QStringLiteral("/resources/themes"));
  for (const char* file : {"xpsilver.sui", "xpgreen.sui", "bluestorm.sui"}) {
    TsuiFileTheme theme;
    EXPECT_TRUE(theme.Load(themes.filePath(QString::fromLatin1(file)))) << file;
    looks.emplace_back(file, theme.Colors());
  }
  return looks;
}

TEST(SkinLooks, EveryLookReadsWellAsDesignedAndNoTwoLookAlike) {
  const auto looks = EightLooks();
  for (const auto& [name, c] : looks) {
    // The designed colours read well already, so no look is patched into another.
    const TSkinColors fixed = Readable(c);
    EXPECT_EQ(fixed.face, c.face) << name;
    EXPECT_EQ(fixed.text, c.text) << name;
    EXPECT_EQ(fixed.buttonText, c.buttonText) << name;
    EXPECT_EQ(fixed.highlightText, c.highlightText) << name;
    EXPECT_GE(ContrastRatio(c.window, c.text), kMinTextContrast) << name;
    // Controls no look restyles write black on the face.
    EXPECT_GE(ContrastRatio(c.face, Qt::black), 7.0) << name;
    EXPECT_GE(ContrastRatio(c.button, c.buttonText), kMinTextContrast) << name;
    EXPECT_GE(ContrastRatio(c.highlight, c.highlightText), kMinTextContrast) << name;
  }
  // Looks are told apart by their frame and accent colours.
  auto distance = [](const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
           std::abs(a.blue() - b.blue());
  };
  for (size_t i = 0; i < looks.size(); ++i) {
    for (size_t j = i + 1; j < looks.size(); ++j) {
      const TSkinColors& a = looks[i].second;
      const TSkinColors& b = looks[j].second;
      EXPECT_GE(distance(a.window, b.window) + distance(a.highlight, b.highlight) +
                    distance(a.button, b.button),
                120)
          << looks[i].first << " and " << looks[j].first;
    }
  }
}

TEST(SkinLooks, TheKaraokeScreenReadsInEveryLookAndKeepsItsAccent) {
  auto looks = EightLooks();
  // Theme files may hold any colours: white, black, glaring and unsaturated accents.
  for (const QColor& accent : {QColor(Qt::white), QColor(Qt::black), QColor(Qt::yellow),
                               QColor(Qt::blue), QColor(128, 128, 128)}) {
    TSkinColors odd = BuiltInLook(TsuiUIStyle::MacOS);
    odd.window = accent;
    odd.highlight = accent;
    looks.emplace_back(accent.name().toStdString(), odd);
  }
  for (const auto& [name, look] : looks) {
    const TKaraokeColours c = KaraokeColoursOf(look);
    EXPECT_GE(ContrastRatio(c.toSing, c.background), kMinTextContrast) << name;
    EXPECT_GE(ContrastRatio(c.sung, c.background), kMinTextContrast) << name;
    EXPECT_GE(ContrastRatio(c.sung, c.toSing), kMinWipeContrast) << name;
    if (look.highlight.hslSaturation() > 0) {
      EXPECT_NEAR(c.sung.hslHue(), look.highlight.hslHue(), 3) << name;
    }
  }
  // An accent that reads as it is stays as it is.
  TSkinColors gold = BuiltInLook(TsuiUIStyle::DeepBlue);
  EXPECT_EQ(KaraokeColoursOf(gold).sung.name(), gold.highlight.name());
}

}  // namespace
}  // namespace sonarelle
