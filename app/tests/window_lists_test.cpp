// Where the window's file dialogs open, the lists a user reads back and
// copies (the status line's message list), the Write Memory list's hex
// columns, the help window the program falls back on, and the start-up
// arguments.
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>

#include <memory>

#include "app/help_window.h"
#include "app/main_window.h"
#include "app/message_list.h"
#include "app/start_arguments.h"
#include "app/status_line.h"
#include "app/tests/gui_test_support.h"

using namespace romsmith;
using namespace romsmith::gui;
using namespace romsmith::gui::testing;

class WindowListsTest : public QObject, protected WindowFixture {
  Q_OBJECT

 private:
  QString Folder(const QString& name) {
    const QString path = folder_->RootPath(name);
    QDir().mkpath(path);
    return path;
  }

 private slots:
  void init() { NewFolder(); }
  void cleanup() { Reset(); }

  void browseButtonsOpenInTheFolderOfTheirField_data() {
    QTest::addColumn<QString>("field");     // relative to the test's folder; "" empty
    QTest::addColumn<QString>("expected");  // likewise; "~" the home folder
    QTest::addColumn<bool>("with_config");  // a configuration is open, in cfg/
    QTest::newRow("existing file") << "images/app.bin" << "images/app.bin" << false;
    QTest::newRow("new file in an existing folder") << "images/new.bin" << "images/new.bin" << false;
    QTest::newRow("folder gone: nearest above") << "images/gone/deeper/app.bin" << "images" << false;
    QTest::newRow("empty, no configuration") << "" << "~" << false;
    QTest::newRow("empty, the configuration's folder") << "" << "cfg" << true;
    QTest::newRow("a path wins over the configuration") << "images/app.bin" << "images/app.bin" << true;
  }
  void browseButtonsOpenInTheFolderOfTheirField() {
    QFETCH(QString, field);
    QFETCH(QString, expected);
    QFETCH(bool, with_config);
    Folder("images");
    WriteText(folder_->RootPath("images/app.bin"), "data");
    Open();
    if (with_config) {
      const QString config = Folder("cfg") + "/board.cfg";
      QFile::copy(folder_->Example("s3c44b0x-am29lv160db.cfg"), config);
      file_answers_ << config;
      W<QAction>("openAction")->trigger();
    }
    const QString text = field.isEmpty() ? QString() : folder_->RootPath(field);
    const QString want = expected == "~" ? QDir::homePath() : folder_->RootPath(expected);
    for (const char* name : {"programFileEdit", "uploadFileEdit"}) W<QLineEdit>(name)->setText(text);
    files_->starts.clear();
    W<QPushButton>("programBrowseButton")->click();
    W<QPushButton>("uploadBrowseButton")->click();
    QCOMPARE(files_->starts, (QStringList{want, want}));
    // Cancel keeps what the fields held.
    QCOMPARE(W<QLineEdit>("programFileEdit")->text(), text);
  }

  void configurationDialogsOpenWhereTheConfigurationIs() {
    QDir().mkpath(folder_->Path("examples"));
    Open();
    files_->starts.clear();
    W<QAction>("openAction")->trigger();  // cancelled
    // A first start: the examples of the program directory.
    QCOMPARE(files_->starts.value(0), folder_->Path("examples"));
    const QString config = Folder("boards") + "/mine.cfg";
    QFile::copy(folder_->Example("lpc2106.cfg"), config);
    file_answers_ << config;
    W<QAction>("openAction")->trigger();
    files_->starts.clear();
    W<QAction>("openAction")->trigger();
    W<QAction>("saveAsAction")->trigger();
    QCOMPARE(files_->starts, (QStringList{config, config}));
  }

  void writeMemoryColumnsShowAWholeHexValue() {
    Open();
    window_->resize(window_->minimumSizeHint());
    auto* memory = W<QTableWidget>("memoryList");
    const int widest[] = {0, 1};
    for (int column : widest) {
      const int width = memory->columnWidth(column);
      memory->item(0, column)->setText("0xDDDDDDDD");
      const int needed = memory->sizeHintForIndex(memory->model()->index(0, column)).width();
      QVERIFY2(width >= needed, qPrintable(QString("column %1: %2 < %3").arg(column).arg(width).arg(needed)));
    }
  }

  void helpFallsBackToAWindowOfItsOwn() {
    Open();
    int asked = 0;
    window_->SetUrlOpener([&asked](const QUrl&) {
      ++asked;
      return false;  // no browser on this desktop
    });
    W<QAction>("helpContentsAction")->trigger();
    QVERIFY(boxes_->asked().empty());
    auto* help = W<HelpWindow>("helpWindow");
    QVERIFY(help && help->isVisible());
    const QString page = help->browser()->source().toLocalFile();
    QVERIFY2(page.endsWith("/help/en/index.html") || page.endsWith("/help/zh/index.html"), qPrintable(page));
    QVERIFY(page.startsWith(folder_->program));
    QVERIFY(!help->browser()->toPlainText().isEmpty());
    // The pages link to each other inside the window.
    const QString setup = QFileInfo(page).dir().filePath("setup.html");
    help->browser()->setSource(QUrl::fromLocalFile(setup));
    QVERIFY(Find<QPushButton>(help, "helpBackButton")->isEnabled());
    // The failure is remembered: the next Help goes straight to the window.
    help->close();
    W<QAction>("helpContentsAction")->trigger();
    QCOMPARE(asked, 1);
    QVERIFY(help->isVisible());
    QCOMPARE(window_->findChildren<HelpWindow*>().size(), 1);
  }

  void messageListHoldsEveryLineAndCopiesThem() {
    Open();
    auto* status = W<StatusLine>("statusLine");
    MessageLog& log = window_->workbench().log();
    log.Info("Info: start program...\n");
    log.Info("Info: programming, waiting 1 s");
    log.Info("Info: programming, waiting 2 s");
    log.Error("Error: time out, program failed.\n");
    W<QToolButton>("messageListButton")->click();
    auto* list = W<QListWidget>("messageList");
    QVERIFY(list && list->isVisible());
    // The waiting count goes on in one row; the log's earlier lines stay.
    const int before = list->count() - 3;
    QVERIFY(before >= 0);
    QCOMPARE(list->item(before)->text(), QString("Info: start program..."));
    QCOMPARE(list->item(before + 1)->text(), QString("Info: programming, waiting 2 s"));
    QCOMPARE(list->item(before + 2)->foreground().color(), QColor(255, 0, 0));
    // Lines logged while the list is open join it.
    log.Info("Info: erase completed.\n");
    QCOMPARE(list->item(list->count() - 1)->text(), QString("Info: erase completed."));
    QCOMPARE(status->messages().size(), list->count());
    // Copy: the selected rows, else all of them.
    Find<QPushButton>(W<QWidget>("messageListWindow"), "copyMessagesButton")->click();
    QCOMPARE(QApplication::clipboard()->text().split('\n').size(), list->count());
    list->item(before + 2)->setSelected(true);
    list->item(before + 3)->setSelected(true);
    Find<QPushButton>(W<QWidget>("messageListWindow"), "copyMessagesButton")->click();
    QCOMPARE(QApplication::clipboard()->text(),
             QString("Error: time out, program failed.\nInfo: erase completed."));
  }

  void startArguments_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("file");
    using A = StartArguments::Action;
    QTest::newRow("none") << QStringList{} << int(A::kRun) << "";
    QTest::newRow("a configuration") << QStringList{"board.cfg"} << int(A::kRun) << "board.cfg";
    QTest::newRow("help wins") << QStringList{"board.cfg", "--help"} << int(A::kHelp) << "";
    QTest::newRow("-h") << QStringList{"-h"} << int(A::kHelp) << "";
    QTest::newRow("version") << QStringList{"--version", "x", "y"} << int(A::kVersion) << "";
    QTest::newRow("unknown option") << QStringList{"--fast"} << int(A::kError) << "";
    QTest::newRow("two files") << QStringList{"a.cfg", "b.cfg"} << int(A::kError) << "a.cfg";
    QTest::newRow("a file that looks like an option") << QStringList{"--", "-odd.cfg"} << int(A::kRun)
                                                     << "-odd.cfg";
  }
  void startArguments() {
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    QFETCH(QString, file);
    const StartArguments parsed = ParseStartArguments(QStringList{"romsmith"} + arguments);
    QCOMPARE(int(parsed.action), action);
    QCOMPARE(parsed.config_file, file);
    QCOMPARE(parsed.error.isEmpty(), parsed.action != StartArguments::Action::kError);
  }

  void aConfigurationNamedAtStartOpens() {
    Open();
    window_->OpenConfigurationFile(folder_->Example("lpc2106.cfg"));
    QCOMPARE(W<QLineEdit>("cpuTypeEdit")->text(), QString("LPC2106"));
    QCOMPARE(window_->workbench().document().current_file(), folder_->Example("lpc2106.cfg").toStdString());
  }
};

QTEST_MAIN(WindowListsTest)
#include "window_lists_test.moc"
