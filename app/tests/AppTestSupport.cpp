#include "AppTestSupport.h"

#include <QLocale>
#include <sstream>

#include "SortGrid.h"

// The next scripted answer, or an empty one (a cancelled dialog) when none is left.
template <typename T>
static T Next(std::deque<T>& answers) {
  if (answers.empty()) return {};
  T a = answers.front();
  answers.pop_front();
  return a;
}

int ScriptedAppUi::ShowBox(const BoxRequest& box) {
  Boxes.push_back(box.Text);
  Defaults.push_back(box.DefaultButton);
  if (OnBox) OnBox(box.Text);
  if (box.Buttons == BoxButtons::Ok) return boxresult::Ok;
  if (Answers.empty()) return box.Buttons == BoxButtons::YesNo ? boxresult::No : boxresult::Cancel;
  return Next(Answers);
}

bool ScriptedAppUi::AskText(const std::string& caption, const std::string& prompt, std::string& value, bool,
                            int) {
  TextCaptions.push_back(caption);
  TextPrompts.push_back(prompt);
  if (Texts.empty()) return false;
  value = Next(Texts);
  return true;
}

QString ScriptedAppUi::AskFileName(QWidget*, const FileDialogRequest& r) {
  LastFileRequest = r;
  return Next(Files);
}

QString ScriptedAppUi::AskFolder(QWidget*, const QString&, const QString&) { return Next(Folders); }

void AppTest::SetUpTestSuite() {
  static int argc = 1;
  static char name[] = "app-tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    auto* a = new QApplication(argc, argv);
    SetUpApplication();
    return a;
  }();
  (void)app;
}

void AppTest::SetUp() {
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  startFolder = QDir::currentPath();
  tmp = std::make_unique<testfiles::TempDir>();
  // The desktop folder the windows start in lies in the test's own folder.
  qputenv("HOME", QByteArray::fromStdString(tmp->Path().string()));
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((*tmp / "config")));
  // What the program remembers between runs stays in the test's folder.
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(*tmp / "config"));
  QDir().mkpath(QString::fromStdString(*tmp / "Desktop"));
  OpenDir.clear();
  NewDir.clear();
  ExtractDir.clear();
  ExpandDirs = OverWr = AllFiles = Canceled = false;
}

void AppTest::TearDown() {
  windows.reset();
  // An extract works in its target folder; the test's folder is about to go.
  QDir::setCurrent(startFolder);
  tmp.reset();
}

void AppTest::Start(const QString& archive) {
  windows = std::make_unique<TesseraWindows>(ui, archive);
  Main().show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Main()));
}

void AppTest::Screenshot(QWidget* w, const QString& name) {
  QCoreApplication::processEvents();
  // Beside the test program: an extract may have changed the current folder.
  const QString file = QCoreApplication::applicationDirPath() + "/" + name + ".png";
  EXPECT_TRUE(w->grab().save(file)) << file.toStdString();
}

std::string AppTest::MakeZip(const std::string& name, const std::vector<Member>& members, const std::string& comment) {
  const std::string path = *tmp / name;
  const char* script = R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    args = sys.argv[3:]
    for i in range(0, len(args), 3):
        info = zipfile.ZipInfo(args[i], date_time=(2024, 3, 9, 14, 30, 0))
        info.compress_type = zipfile.ZIP_STORED if args[i+2] == '1' else zipfile.ZIP_DEFLATED
        z.writestr(info, args[i+1])
    z.comment = sys.argv[2].encode()
)PY";
  std::vector<std::string> args{path, comment};
  for (const Member& m : members) {
    args.push_back(m.Name);
    args.push_back(m.Text);
    args.push_back(m.Stored ? "1" : "0");
  }
  testfiles::Python(script, args);
  return path;
}

std::string AppTest::StartWith(const std::string& name, const std::vector<Member>& members, const std::string& comment) {
  const std::string zip = MakeZip(name, members, comment);
  Start(QString::fromStdString(zip));
  return zip;
}

std::string AppTest::Folder(const std::string& name, const std::vector<std::pair<std::string, std::string>>& files) {
  const std::string path = *tmp / name;
  QDir().mkpath(QString::fromStdString(path));
  for (const auto& [file, text] : files) {
    QDir().mkpath(QFileInfo(QString::fromStdString(path + "/" + file)).path());
    testfiles::WriteFile(path + "/" + file, text);
  }
  return path;
}

std::vector<std::string> AppTest::ZipNames(const std::string& archive) {
  const std::string out = testfiles::Python(
      "import sys, zipfile\nprint('\\n'.join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))\n", {archive});
  std::vector<std::string> names;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) names.push_back(line);
  return names;
}

std::vector<QString> AppTest::GridColumn(int col) {
  std::vector<QString> cells;
  const TSortGrid& g = *Main().StringGrid1;
  for (int r = 0; r < g.RowCount(); ++r) cells.push_back(g.Cells(col, r));
  return cells;
}

void AppTest::ShowReports() { Main().Msgform->Refresh(); }

void AppTest::ExtractAllTo(const std::string& folder, bool expand, bool overwrite) {
  QDir().mkpath(QString::fromStdString(folder));
  TExtract& ex = *windows->Extract;
  WhenDialogOpens([&ex, folder, expand, overwrite] {
    ex.DirectoryListBox1->SetDirectory(QString::fromStdString(folder));
    ex.RadioGroup1->SetItemIndex(expand ? 1 : 0);
    ex.RadioGroup2->SetItemIndex(overwrite ? 1 : 0);
    ex.RadioGroup3->SetItemIndex(0);
    QTest::mouseClick(ex.OKBut, Qt::LeftButton);
  });
  QTest::mouseClick(Main().ExtractBut, Qt::LeftButton);
}
