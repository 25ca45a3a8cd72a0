#pragma once
// What the windows ask of the user besides their own controls: message boxes, text
// input, file and folder choosers. One interface, so that tests can answer it.

#include <QElapsedTimer>
#include <QString>
#include <QUrl>

#include "MarlinUi.h"

class QWidget;

struct FileDialogRequest {
  QString Title;
  QString Directory;
  QString Filter;         // "Description (*.a *.b)"
  QString DefaultSuffix;  // without the dot; empty for none
  bool MustExist = true;  // false: a name that does not exist yet is accepted
};

class AppUi : public MarlinUi {
 public:
  // The chosen file, or an empty text when the user cancelled.
  virtual QString AskFileName(QWidget* owner, const FileDialogRequest& request) = 0;
  // The chosen folder, or an empty text when the user cancelled.
  virtual QString AskFolder(QWidget* owner, const QString& title, const QString& start) = 0;
  // Hands a file to the desktop's default program for it; false when none took it.
  virtual bool OpenUrl(const QUrl& url) = 0;
  // Boxes without an owner of their own are centred on this window.
  void SetOwner(QWidget* owner) { owner_ = owner; }
  QWidget* Owner() const { return owner_; }

 protected:
  QWidget* owner_ = nullptr;
};

// The real thing: Qt's message boxes, input dialog and file dialogs.
class QtAppUi : public AppUi {
 public:
  int ShowBox(const BoxRequest& box) override;
  bool AskText(const std::string& caption, const std::string& prompt, std::string& value, bool masked,
               int maxLength) override;
  void ProcessEvents() override;
  void SetBusyCursor(bool busy) override;
  QString AskFileName(QWidget* owner, const FileDialogRequest& request) override;
  QString AskFolder(QWidget* owner, const QString& title, const QString& start) override;
  bool OpenUrl(const QUrl& url) override;

 private:
  // Pending events are let through at most every few milliseconds: the libraries call
  // back for every file and every megabyte, and handling events each time would pace them.
  QElapsedTimer sinceEvents_;
};
