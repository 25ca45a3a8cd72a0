#pragma once
// The message and progress window: the log of the running operation, the current file
// with its bar, the batch bar with size and count, and the cancel button.
//
// Reports arrive far faster than anyone can read them (one per file and per megabyte),
// so they are kept as pending and reach the widgets at most every kRefreshMs: showing
// them must never pace the work.

#include <QDialog>
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <optional>

class ElidedLabel;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class TMainform;

class TMsgform : public QDialog {
 public:
  static constexpr int kRefreshMs = 40;  // 25 refreshes a second

  explicit TMsgform(TMainform& main);

  ElidedLabel* FileBeingZipped;
  QProgressBar* ProgressBar1;
  QPlainTextEdit* RichEdit1;
  QPushButton* Button2;  // "&Cancel Operation"
  QPushButton* Button1;  // dismisses the window
  QStatusBar* StatusBar1;
  QLabel* StatusPanel0;
  QLabel* StatusPanel1;
  QProgressBar* ProgressBar2;
  int OrigWidth = 0;

  // ---- what the reports ask to show, shown at the next refresh ----
  void ShowFileName(const QString& name);
  void ShowFileBar(int value);
  void ShowBatchBar(int value);
  void ShowPanel0(const QString& text);
  void ShowPanel1(const QString& text);
  void AppendLine(const QString& text);
  // Scrolls the log to its end at the next refresh.
  void PostScrollCaret();
  // Shows everything pending now.
  void Refresh();

  void ClearLog();
  // Shows the window (beside the main window the first time, and whenever it would hide
  // it) and brings it to the front.
  void ShowModeless();

  void DismissButClick();
  void CancelButClick();

 protected:
  void reject() override { CancelButClick(); }
  void closeEvent(QCloseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  struct Pending {
    std::optional<QString> File, Panel0, Panel1;
    std::optional<int> FileBar, BatchBar;
    QStringList Lines;
    bool Scroll = false;
  };
  void FormCreate();
  void FormResize();
  void RefreshSoon();
  void PlaceBesideMain();

  TMainform& main_;
  Pending pending_;
  QElapsedTimer sinceRefresh_;
  QTimer refreshTimer_;
  bool placed_ = false;
};
