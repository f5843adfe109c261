#include "skins/SkinSheet.h"

#include <QAbstractSlider>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

namespace sonarelle {

namespace {

QString Hex(const QColor& color) {
  return color.name(QColor::HexRgb);
}

// A top-lit band: lighter at the top, the colour itself at the bottom.
QString Band(const QColor& color) {
  return QStringLiteral("qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %1, stop:1 %2)")
      .arg(Hex(color.lighter(125)), Hex(color));
}

// Text of disabled items: halfway to the background, still told apart from it.
QString Dimmed(const QColor& text, const QColor& background) {
  return Hex(QColor((text.red() + background.red()) / 2, (text.green() + background.green()) / 2,
                    (text.blue() + background.blue()) / 2));
}

QString Fill(QString sheet, const QString& id, const TSkinColors& c) {
  return sheet.replace(QLatin1String("@id"), id)
      .replace(QLatin1String("@windowBand"), Band(c.window))
      .replace(QLatin1String("@window"), Hex(c.window))
      .replace(QLatin1String("@border"), Hex(c.window.darker(130)))
      .replace(QLatin1String("@textDim"), Dimmed(c.text, c.window))
      .replace(QLatin1String("@text"), Hex(c.text))
      .replace(QLatin1String("@faceDim"), Dimmed(Qt::black, c.face))
      .replace(QLatin1String("@face"), Hex(c.face))
      .replace(QLatin1String("@groove"), Hex(c.face.darker(125)))
      .replace(QLatin1String("@buttonBand"), Band(c.button))
      .replace(QLatin1String("@buttonDown"), Hex(c.button.darker(115)))
      .replace(QLatin1String("@buttonText"), Hex(c.buttonText))
      .replace(QLatin1String("@highlightText"), Hex(c.highlightText))
      .replace(QLatin1String("@highlight"), Hex(c.highlight))
      .replace(QLatin1String("@radius"), QString::number(c.radius))
      .replace(QLatin1String("@half"), QString::number(c.radius / 2));
}

const char* const kMenuBar =
    "QMenuBar#@id { background: @windowBand; color: @text; border-bottom: 1px solid @border; }"
    "QMenuBar#@id::item { background: transparent; color: @text; }"
    "QMenuBar#@id::item:selected, QMenuBar#@id::item:pressed"
    " { background: @highlight; color: @highlightText; border-radius: @halfpx; }"
    "QMenuBar#@id QMenu { background: @face; color: black; border: 1px solid @border; }"
    "QMenuBar#@id QMenu::item { padding: 3px 20px 3px 20px; }"
    "QMenuBar#@id QMenu::item:selected { background: @highlight; color: @highlightText; }"
    "QMenuBar#@id QMenu::item:disabled { color: @faceDim; }"
    "QMenuBar#@id QMenu::separator { height: 1px; background: @border; margin: 3px 6px; }";

const char* const kMenu =
    "QMenu#@id { background: @face; color: black; border: 1px solid @border; }"
    "QMenu#@id::item { padding: 3px 20px 3px 20px; }"
    "QMenu#@id::item:selected { background: @highlight; color: @highlightText; }"
    "QMenu#@id::item:disabled { color: @faceDim; }";

const char* const kGroupBox =
    "QGroupBox#@id { background: @face; color: black; border: 1px solid @border;"
    " border-top: 3px solid @window; border-radius: @radiuspx; }"
    "QGroupBox#@id::title { subcontrol-origin: border; subcontrol-position: top left;"
    " left: 8px; padding: 0px 4px; background: @window; color: @text; }";

const char* const kSlider =
    "QSlider#@id { background: transparent; }"
    "QSlider#@id::groove:horizontal { height: 6px; background: @groove; border: 1px solid @border;"
    " border-radius: 3px; }"
    "QSlider#@id::groove:vertical { width: 6px; background: @groove; border: 1px solid @border;"
    " border-radius: 3px; }"
    "QSlider#@id::sub-page:horizontal { background: @highlight; border-radius: 3px; }"
    "QSlider#@id::add-page:vertical { background: @highlight; border-radius: 3px; }"
    "QSlider#@id::handle { background: @buttonBand; border: 1px solid @border;"
    " border-radius: @halfpx; }"
    "QSlider#@id::handle:horizontal { width: 12px; margin: -5px 0px; }"
    "QSlider#@id::handle:vertical { height: 12px; margin: 0px -5px; }"
    "QSlider#@id::handle:disabled { background: @groove; }";

const char* const kProgressBar =
    "QProgressBar#@id { background: white; color: black; border: 1px solid @border;"
    " border-radius: @halfpx; text-align: center; }"
    "QProgressBar#@id::chunk { background: @highlight; border-radius: @halfpx; }";

const char* const kButton =
    "QPushButton#@id { background: @buttonBand; color: @buttonText; border: 1px solid @border;"
    " border-radius: @radiuspx; padding: 2px 8px; }"
    "QPushButton#@id:pressed { background: @buttonDown; }"
    "QPushButton#@id:focus { border: 2px solid @highlight; }"
    "QPushButton#@id:disabled { background: @groove; color: @faceDim; }";

const char* const kEdit =
    "QLineEdit#@id { background: white; color: black; border: 1px solid @border;"
    " border-radius: @halfpx; selection-background-color: @highlight;"
    " selection-color: @highlightText; }"
    "QLineEdit#@id:focus { border: 1px solid @highlight; }"
    "QLineEdit#@id:disabled { background: @face; color: @faceDim; }";

const char* const kComboBox =
    "QComboBox#@id { background: @buttonBand; color: @buttonText; border: 1px solid @border;"
    " border-radius: @halfpx; padding: 1px 6px; }"
    "QComboBox#@id QAbstractItemView { background: white; color: black;"
    " selection-background-color: @highlight; selection-color: @highlightText; }";

const char* const kCheck =
    "#@id { background: transparent; color: black; }"
    "#@id::indicator { width: 11px; height: 11px; background: white; border: 1px solid @border;"
    " border-radius: @round; }"
    "#@id::indicator:checked { background: @mark; }"
    "#@id::indicator:disabled { background: @face; }";

// A panel: the body in the face colour under a caption bar in the frame colour.
const char* const kPanel =
    "QFrame#@id { background: @face; border: 1px solid @border; }"
    "QFrame#@id > QLabel { background: @windowBand; color: @text; font-weight: bold; }"
    "QFrame#@id > QToolButton { background: @windowBand; color: @text; border: none; }";

// A window frame: only the window's own background, its contents keep theirs.
const char* const kForm = "#@id { background: @face; }";

}  // namespace

QString SkinSheet(const QWidget& control, const TSkinColors& colors) {
  const QString id = control.objectName();
  if (id.isEmpty()) return {};
  QString sheet;
  if (qobject_cast<const QMenuBar*>(&control) != nullptr) {
    sheet = QString::fromLatin1(kMenuBar);
  } else if (qobject_cast<const QMenu*>(&control) != nullptr) {
    sheet = QString::fromLatin1(kMenu);
  } else if (qobject_cast<const QGroupBox*>(&control) != nullptr) {
    sheet = QString::fromLatin1(kGroupBox);
  } else if (qobject_cast<const QSlider*>(&control) != nullptr) {
    sheet = QString::fromLatin1(kSlider);
  } else if (qobject_cast<const QProgressBar*>(&control) != nullptr) {
    sheet = QString::fromLatin1(kProgressBar);
  } else if (qobject_cast<const QPushButton*>(&control) != nullptr) {
    sheet = QString::fromLatin1(kButton);
  } else if (qobject_cast<const QLineEdit*>(&control) != nullptr) {
    sheet = QString::fromLatin1(kEdit);
  } else if (qobject_cast<const QComboBox*>(&control) != nullptr) {
    sheet = QString::fromLatin1(kComboBox);
  } else if (qobject_cast<const QCheckBox*>(&control) != nullptr ||
             qobject_cast<const QRadioButton*>(&control) != nullptr) {
    // A radio button is a circle with a dot when chosen, a check box a filled square; the
    // indicator keeps its size either way, as a larger border would square off the circle.
    const bool radio = qobject_cast<const QRadioButton*>(&control) != nullptr;
    sheet =
        QString::fromLatin1(kCheck)
            .replace(QLatin1String("@round"), radio ? QStringLiteral("6px") : QStringLiteral("2px"))
            .replace(QLatin1String("@mark"),
                     radio ? QStringLiteral("qradialgradient(cx:0.5, cy:0.5, radius:0.5, fx:0.5, "
                                            "fy:0.5, stop:0 @highlight, stop:0.55 @highlight, "
                                            "stop:0.65 white, stop:1 white)")
                           : QStringLiteral("@highlight"));
  } else if (control.isWindow() || control.metaObject() == &QWidget::staticMetaObject) {
    sheet = QString::fromLatin1(kForm);
  } else if (qobject_cast<const QFrame*>(&control) != nullptr) {
    sheet = QString::fromLatin1(kPanel);
  } else {
    return {};
  }
  return Fill(sheet, id, colors);
}

}  // namespace sonarelle
