#include "AppUi.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace {

QWidget* BoxParent(QWidget* owner) {
  if (QWidget* w = QApplication::activeModalWidget()) return w;
  if (QWidget* w = QApplication::activeWindow()) return w;
  return owner;
}

struct ButtonCode {
  QMessageBox::StandardButton Button;
  int Code;
};

std::vector<ButtonCode> ButtonsOf(BoxButtons set) {
  using B = QMessageBox;
  switch (set) {
    case BoxButtons::Ok: return {{B::Ok, boxresult::Ok}};
    case BoxButtons::OkCancel: return {{B::Ok, boxresult::Ok}, {B::Cancel, boxresult::Cancel}};
    case BoxButtons::YesNo: return {{B::Yes, boxresult::Yes}, {B::No, boxresult::No}};
    case BoxButtons::YesNoCancel:
      return {{B::Yes, boxresult::Yes}, {B::No, boxresult::No}, {B::Cancel, boxresult::Cancel}};
    case BoxButtons::RetryCancel: return {{B::Retry, boxresult::Retry}, {B::Cancel, boxresult::Cancel}};
    case BoxButtons::AbortRetryIgnore:
      return {{B::Abort, boxresult::Abort}, {B::Retry, boxresult::Retry}, {B::Ignore, boxresult::Ignore}};
  }
  return {{B::Ok, boxresult::Ok}};
}

}  // namespace

int QtAppUi::ShowBox(const BoxRequest& box) {
  QMessageBox mb(BoxParent(owner_));
  mb.setWindowTitle(QString::fromStdString(box.Caption));
  mb.setText(QString::fromStdString(box.Text));
  mb.setTextFormat(Qt::PlainText);
  switch (box.Icon) {
    case BoxIcon::None: mb.setIcon(QMessageBox::NoIcon); break;
    case BoxIcon::Information: mb.setIcon(QMessageBox::Information); break;
    case BoxIcon::Question: mb.setIcon(QMessageBox::Question); break;
    case BoxIcon::Warning: mb.setIcon(QMessageBox::Warning); break;
    case BoxIcon::Stop: mb.setIcon(QMessageBox::Critical); break;
  }
  const auto buttons = ButtonsOf(box.Buttons);
  for (const ButtonCode& b : buttons) mb.addButton(b.Button);
  if (box.DefaultButton >= 0 && size_t(box.DefaultButton) < buttons.size())
    mb.setDefaultButton(buttons[size_t(box.DefaultButton)].Button);
  // A box with a way out answers Esc and the title bar's close with it.
  for (const ButtonCode& b : buttons)
    if (b.Code == boxresult::Cancel || b.Code == boxresult::No) mb.setEscapeButton(b.Button);
  if (buttons.size() == 1) mb.setEscapeButton(buttons[0].Button);
  // The default button takes the focus too, so that Space answers as Enter does.
  mb.show();
  if (QPushButton* d = mb.defaultButton()) d->setFocus(Qt::OtherFocusReason);
  mb.exec();
  QAbstractButton* clicked = mb.clickedButton();
  for (const ButtonCode& b : buttons)
    if (clicked == mb.button(b.Button)) return b.Code;
  return boxresult::Cancel;
}

bool QtAppUi::AskText(const std::string& caption, const std::string& prompt, std::string& value, bool masked,
                      int maxLength) {
  QInputDialog dlg(BoxParent(owner_));
  dlg.setWindowTitle(QString::fromStdString(caption));
  dlg.setLabelText(QString::fromStdString(prompt));
  dlg.setTextValue(QString::fromStdString(value));
  dlg.setTextEchoMode(masked ? QLineEdit::Password : QLineEdit::Normal);
  if (maxLength > 0)
    if (auto* edit = dlg.findChild<QLineEdit*>()) edit->setMaxLength(maxLength);
  if (dlg.exec() != QDialog::Accepted) return false;
  value = dlg.textValue().toStdString();
  return true;
}

void QtAppUi::ProcessEvents() {
  // Often enough for a Cancel to take effect at once and the window to follow the
  // work; rarely enough that handling events never costs the work noticeable time.
  constexpr int kEventsMs = 15;
  if (sinceEvents_.isValid() && sinceEvents_.elapsed() < kEventsMs) return;
  QCoreApplication::processEvents();
  sinceEvents_.start();
}

bool QtAppUi::OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

void QtAppUi::SetBusyCursor(bool busy) {
  if (busy)
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QGuiApplication::restoreOverrideCursor();
}

QString QtAppUi::AskFileName(QWidget* owner, const FileDialogRequest& r) {
  QFileDialog dlg(owner, r.Title, r.Directory, r.Filter);
  dlg.setAcceptMode(QFileDialog::AcceptOpen);
  dlg.setFileMode(r.MustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  if (!r.DefaultSuffix.isEmpty()) dlg.setDefaultSuffix(r.DefaultSuffix);
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
  return dlg.selectedFiles().constFirst();
}

QString QtAppUi::AskFolder(QWidget* owner, const QString& title, const QString& start) {
  return QFileDialog::getExistingDirectory(owner, title, start);
}
