#pragma once
// The View menu's archive information and its choice of the code page that names stored
// without the UTF-8 flag are read in. Choosing one lists the archive again, so the grid
// refills through the component's directory update.

#include <QObject>
#include <functional>
#include <string>

class QAction;
class QActionGroup;
class QMenu;
class TMarlin;

class NameEncodingMenu : public QObject {
 public:
  // Adds its items to `view`; `show` puts a text in a message box.
  NameEncodingMenu(QMenu* view, TMarlin& marlin, std::function<void(const std::string&)> show);
  // Another archive is opened: its names are judged afresh.
  void ArchiveChanged();
  // What "Archive information" shows.
  std::string InformationText() const;

  QAction* Archiveinformation1;
  QMenu* Nameencoding1;

 private:
  void Refresh();
  void Choose(int codePage);

  TMarlin& marlin_;
  std::function<void(const std::string&)> show_;
  QActionGroup* group_;
  QAction* automatic_;
};
