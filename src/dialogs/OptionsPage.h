// TfrmOptions, the options dialog ("Options"): the mirror, the host, the
// proxy and the five switches of the data module's settings. It has no OK or
// Cancel button: it loads its controls from the settings when it is shown and
// writes every control back into the settings when it closes, however it is
// closed, then disconnects Http1. The mirror is not typed: a double click on
// its line opens the mirror dialog.
//
// Choices of this program: the controls are loaded when the dialog is
// shown (also where the window system never makes it active), not again
// when the mirror dialog opened from it closes, so edits made before opening
// the mirror dialog survive; "Ask before overwrite Database" is ticked when
// the program asks, that is when OverwriteData is off (the stored key keeps
// its meaning); and a text with a line break is refused when the dialog
// closes (the error is shown and the dialog stays open), since no setting
// can hold one.
//
// Created hidden at start-up; shown modally. UI thread only.
#pragma once

#include "VRKSearchData.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>

namespace vrk {

class TfrmMirror;

class TfrmOptions final : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmOptions(TVRKData& data, QWidget* parent = nullptr);
  TfrmOptions(const TfrmOptions&) = delete;
  TfrmOptions& operator=(const TfrmOptions&) = delete;

  // The mirror dialog that Label2DblClick opens.
  void setMirrorDialog(TfrmMirror* dialog) { m_mirrorDialog = dialog; }

  // Controls from the settings, then CheckBox1Click and CheckBox3Click.
  void FormActivate();
  // Raises msg::ValueLineBreak of the first text control that holds a line
  // break.
  void CheckValues() const;
  // All nine settings from the controls as they stand (disabled ones too),
  // then Http1's disconnect — unless a download still runs, which the
  // disconnect would cut short.
  void FormClose();
  // Proxy host and port enabled exactly when "Use Proxy" is ticked.
  void CheckBox1Click();
  // "Delete Zip-file after unzip" enabled exactly when "Unzip download" is.
  void CheckBox3Click();
  // The mirror dialog, modally; on OK, Label2 := URL of the current mirror row.
  void Label2DblClick();

  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLineEdit* Edit1;
  QCheckBox* CheckBox1;
  QLabel* Label4;
  QLineEdit* Edit2;
  QLabel* Label5;
  QLineEdit* Edit3;
  QCheckBox* CheckBox2;
  QCheckBox* CheckBox3;
  QCheckBox* CheckBox4;
  QCheckBox* CheckBox5;

  // Closing by any way (the close box, Escape, accept) ends here.
  void done(int result) override;

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLabel* label(const char* name, const char* caption, int left, int top);
  QLineEdit* edit(const char* name, const char* text, int left, int top, int width);
  QCheckBox* box(const char* name, const char* caption, int left, int top, int width);

  TVRKData& m_data;
  TfrmMirror* m_mirrorDialog = nullptr;
};

}  // namespace vrk
