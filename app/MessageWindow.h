#pragma once
// The message and progress window: the log of the running operation, the current file
// with its bar, the batch bar with size and count, and the cancel button.

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class TMainform;

class TMsgform : public QDialog {
 public:
  explicit TMsgform(TMainform& main);

  QLabel* FileBeingZipped;
  QProgressBar* ProgressBar1;
  QPlainTextEdit* RichEdit1;
  QPushButton* Button2;  // "&Cancel Operation"
  QPushButton* Button1;  // "&Dismiss this Window"
  QStatusBar* StatusBar1;
  QLabel* StatusPanel0;
  QLabel* StatusPanel1;
  QProgressBar* ProgressBar2;
  int OrigWidth = 0;

  void ClearLog();
  void AppendLine(const QString& text);
  // Scrolls the log to its end once pending events are handled.
  void PostScrollCaret();
  void ShowModeless();

  void DismissButClick();
  void CancelButClick();

 protected:
  void reject() override { CancelButClick(); }
  void closeEvent(QCloseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  void FormCreate();
  void FormResize();
  TMainform& main_;
};
