// The main window through its object names: start-up, the menus, the File
// menu's configuration files, the pages and the two dialogs.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <memory>

#include "app/main_window.h"
#include "app/status_line.h"
#include "app/tests/gui_test_support.h"
#include "target_data/profile_store.h"
#include "target_data/settings_schema.h"

using namespace romsmith;
using namespace romsmith::gui;
using namespace romsmith::gui::testing;

namespace {


// Runs `act` on the next modal dialog as soon as it shows.
void OnNextDialog(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    timer->stop();
    timer->deleteLater();
    act(modal);
    // A failed check inside `act` must not leave the dialog waiting.
    if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && dialog->isVisible()) dialog->reject();
  });
  timer->start();
}

QTreeWidgetItem* TreeItem(QTreeWidget* tree, const QString& text) {
  const QList<QTreeWidgetItem*> found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
  return found.isEmpty() ? nullptr : found.first();
}

}  // namespace

class WindowTest : public QObject, protected WindowFixture {
  Q_OBJECT

 private:
  QAction* Action(const char* name) { return W<QAction>(name); }
  QString Example() { return folder_->Example("s3c44b0x-am29lv160db.cfg"); }
  QString SecondExample() { return folder_->Example("lpc2106.cfg"); }
  void LoadExample(const QString& path = {}) {
    file_answers_ << (path.isEmpty() ? Example() : path);
    Action("openAction")->trigger();
  }

 private slots:
  void init() { NewFolder(); }
  void cleanup() { Reset(); }

  void startsWithoutAProfile() {
    MainWindow* window = Open();
    QCOMPARE(window->windowTitle(), QString("Romsmith"));
    QVERIFY(!QFile::exists(folder_->profile));
    QVERIFY(boxes_->asked().empty());
    QCOMPARE(W<QTabWidget>("pageTabs")->count(), 3);
    QCOMPARE(W<QTabWidget>("pageTabs")->tabText(2), QString("Flash"));
    QCOMPARE(W<QProgressBar>("progressBar")->maximum(), 1024);
    QCOMPARE(W<QProgressBar>("progressBar")->value(), 0);
    QVERIFY(Action("recentFilePlaceholder")->isVisible());
    QVERIFY(!Action("recentFilePlaceholder")->isEnabled());
    QVERIFY(W<QTreeWidget>("cpuTree")->topLevelItemCount() > 0);
    QVERIFY(W<QTreeWidget>("flashTree")->topLevelItemCount() > 0);
    QCOMPARE(W<QTableWidget>("memoryList")->rowCount(), 100);
    QVERIFY(QFile::exists(folder_->Path("Info.log")));
    const char* buttons[][2] = {{"blankCheckButton", "&Blank Check"}, {"eraseButton", "&Erase"},
                                {"programButton", "&Program"},       {"verifyButton", "&Verify"},
                                {"checksumButton", "&Checksum"},     {"protectButton", "Pr&otect"},
                                {"uploadButton", "&Upload"},         {"closeButton", "Cl&ose"}};
    for (const auto& [name, text] : buttons) {
      QPushButton* button = W<QPushButton>(name);
      QVERIFY2(button, name);
      QCOMPARE(button->text(), QString(text));
      QVERIFY2(!button->icon().isNull(), name);
    }
    // Every control a user can reach carries a name the tests can use.
    for (QWidget* child : window->findChildren<QWidget*>()) {
      const bool control = qobject_cast<QAbstractButton*>(child) || qobject_cast<QLineEdit*>(child) ||
                           qobject_cast<QComboBox*>(child) || qobject_cast<QAbstractItemView*>(child) ||
                           qobject_cast<QProgressBar*>(child);
      if (!control || child->parentWidget()->inherits("QComboBox")) continue;
      if (child->inherits("QTabBar") || child->inherits("QToolButton") ||
          child->inherits("QHeaderView") || child->inherits("QTableCornerButton"))
        continue;
      QVERIFY2(!child->objectName().isEmpty(), child->metaObject()->className());
    }
  }

  void startsWithAFullProfile() {
    WriteText(folder_->profile,
              QString("[Option]\r\nLog=1\r\nLoadSectData=1\r\nCheckID=1\r\nResetCount=2\r\n"
                      "TimeOut=30\r\nTestRamSize=8\r\nLpcFreq=12000\r\n"
                      "[Recent File List]\r\nfile1=%1\r\nfile2=%2\r\n")
                  .arg(Example(), SecondExample())
                  .toUtf8());
    Open();
    const ProgramSettings& settings = window_->workbench().settings();
    QCOMPARE(settings.time_out_polls, 300);
    QCOMPARE(settings.test_ram_bytes, 8192);
    QCOMPARE(settings.reset_count, 2);
    QVERIFY(!Action("recentFilePlaceholder")->isVisible());
    QVERIFY(Action("recentFileAction1")->isVisible());
    QVERIFY(Action("recentFileAction1")->text().endsWith(Example()));
    QVERIFY(Action("recentFileAction2")->text().startsWith("&2 "));
    QVERIFY(!Action("recentFileAction3")->isVisible());
    // The log option is on: lines reach Info.log.
    window_->workbench().log().Info("Info: a line for the log.\n");
    QVERIFY(ReadBytes(folder_->Path("Info.log")).contains("Info: a line for the log."));
  }

  void everyMenuItemDoesItsCommand() {
    Open();
    // File Open fills the pages and the recent list.
    LoadExample();
    QCOMPARE(W<QLineEdit>("cpuTypeEdit")->text(), QString("S3C44B0X"));
    QCOMPARE(W<QLineEdit>("flashDeviceEdit")->text(), QString("Am29LV160DB"));
    QVERIFY(Action("recentFileAction1")->text().endsWith(Example()));
    ProfileStore profile(folder_->profile.toStdString());
    QCOMPARE(QString::fromStdString(profile.GetText("Recent File List", "file1")), Example());

    // Save As writes exactly the typed name; Save rewrites it.
    const QString saved = folder_->RootPath("copy");
    file_answers_ << saved;
    Action("saveAsAction")->trigger();
    QVERIFY(ReadBytes(saved).contains("CpuChip=S3C44B0X"));
    QVERIFY(W<QWidget>("targetGroup")->property("title").toString().contains(saved));
    W<QLineEdit>("ramStartEdit")->setText("0x0C100000");
    Action("saveAction")->trigger();
    QVERIFY(ReadBytes(saved).contains("RamAddress=$0C100000"));
    QVERIFY(Action("recentFileAction2")->text().endsWith(Example()));

    // A recent file opens.
    Action("recentFileAction2")->trigger();
    QCOMPARE(W<QLineEdit>("ramStartEdit")->text(), QString("0x0C000000"));

    // The dialogs open and Cancel leaves them.
    for (const char* name : {"configureAction", "optionAction"}) {
      QString seen;
      OnNextDialog([&seen](QWidget* dialog) {
        seen = dialog->objectName();
        qobject_cast<QDialog*>(dialog)->reject();
      });
      Action(name)->trigger();
      QVERIFY2(!seen.isEmpty(), name);
    }
    QString about;
    OnNextDialog([&about](QWidget* dialog) {
      about = dialog->windowTitle();
      qobject_cast<QDialog*>(dialog)->accept();
    });
    Action("aboutAction")->trigger();
    QCOMPARE(about, QString("About Romsmith"));

    // Help opens the English start page with the desktop's browser.
    QUrl opened;
    window_->SetUrlOpener([&opened](const QUrl& url) {
      opened = url;
      return true;
    });
    QLocale::setDefault(QLocale(QLocale::English));
    Action("helpContentsAction")->trigger();
    QVERIFY(opened.toLocalFile().endsWith("help/en/index.html") ||
            opened.toLocalFile().endsWith("help/zh/index.html"));
    QVERIFY(QFile::exists(opened.toLocalFile()));
    QDir(folder_->Path("help")).removeRecursively();
    boxes_->Clear();
    Action("helpContentsAction")->trigger();
    QCOMPARE(boxes_->texts(), QStringList{"Error: can't find help file."});

    // Exit closes the window once nothing is left unsaved.
    boxes_->Clear();
    Action("exitAction")->trigger();
    QVERIFY(!window_->isVisible());
    QVERIFY(boxes_->asked().empty());
  }

  void maintenanceTakesThePasswordFromTheAboutCommand() {
    folder_->WriteSettings("osprey7.so", "Parallel", "LPT1", "Encrypt=1\r\n");
    Open();
    WriteText(folder_->Path("cpu.ini"), "[VENDORS]\r\n");
    OnNextDialog([](QWidget* dialog) {
      QCOMPARE(dialog->windowTitle(), QString("Input Password"));
      QTest::keyClicks(Find<QLineEdit>(dialog, "passwordEdit"), "Qorin7");
      Find<QPushButton>(dialog, "encryptButton")->click();
    });
    Action("aboutAction")->trigger();
    // The plain CPU database was scrambled in place of the shipped one.
    QCOMPARE(ReadBytes(folder_->Path("proc.xdl")).size(), 2 * 11);
  }

  void unsavedChangesAreAskedAboutBeforeAnotherFileOrClose_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<bool>("saved");
    QTest::newRow("cancel keeps everything") << int(platform::MessageAnswer::Cancel) << false << false;
    QTest::newRow("no drops the change") << int(platform::MessageAnswer::No) << true << false;
    QTest::newRow("yes saves first") << int(platform::MessageAnswer::Yes) << true << true;
  }
  void unsavedChangesAreAskedAboutBeforeAnotherFileOrClose() {
    QFETCH(int, answer);
    QFETCH(bool, loaded);
    QFETCH(bool, saved);
    const QString config = Example();
    Open();
    LoadExample(config);
    W<QLineEdit>("ramStartEdit")->setText("0x0C004000");
    boxes_->Clear();
    boxes_->Answer(static_cast<platform::MessageAnswer>(answer));
    LoadExample(SecondExample());
    QCOMPARE(boxes_->texts(), QStringList{"Save changed to target config file?"});
    QCOMPARE(boxes_->asked()[0].buttons, platform::MessageButtons::YesNoCancel);
    QCOMPARE(W<QLineEdit>("cpuTypeEdit")->text() == "LPC2106", loaded);
    QCOMPARE(ReadBytes(config).contains("RamAddress=$0C004000"), saved);
    if (!loaded) {
      QCOMPARE(W<QLineEdit>("ramStartEdit")->text(), QString("0x0C004000"));
      // Closing asks the same; Cancel keeps the window open with its values.
      boxes_->Clear();
      boxes_->Answer(platform::MessageAnswer::Cancel);
      window_->close();
      QVERIFY(window_->isVisible());
      QCOMPARE(boxes_->texts(), QStringList{"Save changed to target config file?"});
      QCOMPARE(W<QLineEdit>("ramStartEdit")->text(), QString("0x0C004000"));
    }
  }

  void switchingTabsKeepsTypedValuesAndUpdatesTheReadOut() {
    Open();
    LoadExample();
    auto* tabs = W<QTabWidget>("pageTabs");
    W<QLineEdit>("ramStartEdit")->setText("0x0C002000");
    tabs->setCurrentIndex(2);
    W<QLineEdit>("sectorFromEdit")->setText("2");
    W<QLineEdit>("sectorToEdit")->setText("9");
    tabs->setCurrentIndex(1);
    W<QRadioButton>("bigEndianRadio")->setChecked(true);
    tabs->setCurrentIndex(0);
    QCOMPARE(W<QLineEdit>("ramStartEdit")->text(), QString("0x0C002000"));
    QCOMPARE(W<QLineEdit>("targetSectorFromEdit")->text(), QString("2"));
    QCOMPARE(W<QLineEdit>("targetSectorToEdit")->text(), QString("9"));
    QCOMPARE(W<QLineEdit>("cpuEndianEdit")->text(), QString("Big"));
    const TargetConfig& config = window_->workbench().config();
    QCOMPARE(config.ram_address, 0x0C002000u);
    QCOMPARE(config.start_sector, 1);
    QCOMPARE(config.end_sector, 8);
  }

  void tabWalksThePageThenTheButtons_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<QStringList>("order");
    const QStringList buttons = {"blankCheckButton", "eraseButton",    "programButton",
                                 "verifyButton",     "checksumButton", "protectButton",
                                 "uploadButton",     "closeButton",    "messageListButton"};
    // Row by row, left to right; Tab leaves a list at once (the arrows move
    // in it); of the two byte-order choices only the checked one is a stop.
    QTest::newRow("Program") << 0
                             << QStringList{"cpuTypeEdit",      "cpuEndianEdit",  "ramStartEdit",
                                            "flashDeviceEdit",  "flashStartEdit", "flashWidthEdit",
                                            "flashChipsEdit",   "targetSectorFromEdit",
                                            "targetSectorToEdit", "autoEraseCheck",
                                            "autoVerifyCheck",  "programFileEdit",
                                            "programBrowseButton", "formatCombo", "uploadFileEdit",
                                            "uploadBrowseButton"} + buttons;
    QTest::newRow("CPU") << 1
                         << QStringList{"cpuTree", "registerList", "memoryList", "littleEndianRadio",
                                        "targetTestButton", "registerReadButton"} + buttons;
    QTest::newRow("Flash") << 2
                           << QStringList{"flashTree", "widthCombo", "chipsCombo", "startAddressEdit",
                                          "sectorFromEdit", "sectorToEdit", "sectorList"} + buttons;
  }
  void tabWalksThePageThenTheButtons() {
    QFETCH(int, page);
    QFETCH(QStringList, order);
    Open();
    LoadExample();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    auto* tabs = W<QTabWidget>("pageTabs");
    tabs->setCurrentIndex(page);
    tabs->tabBar()->setFocus();
    QStringList walked;
    for (int i = 0; i < 40; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QWidget* focus = QApplication::focusWidget();
      if (focus == tabs->tabBar()) break;
      walked << (focus ? focus->objectName() : QString("(none)"));
    }
    QCOMPARE(walked, order);
  }

  void pickingACpuFillsTheRegisterList() {
    Open();
    auto* tree = W<QTreeWidget>("cpuTree");
    auto* registers = W<QTableWidget>("registerList");
    tree->setCurrentItem(TreeItem(tree, "S3C44B0X"));
    const CpuRecord* record = window_->workbench().pages().cpu.database.Find("S3C44B0X");
    QVERIFY(record);
    QCOMPARE(registers->rowCount(), record->register_count());
    QCOMPARE(registers->item(0, 0)->text(), QString::fromStdString(record->registers[0].name));
    QCOMPARE(registers->item(0, 1)->text(),
             QString::asprintf("0x%08X", record->registers[0].default_value));
    QCOMPARE(registers->item(0, 2)->text(), registers->item(0, 1)->text());
    QVERIFY(!(registers->item(0, 0)->flags() & Qt::ItemIsEditable));
    QVERIFY(registers->item(0, 2)->flags() & Qt::ItemIsEditable);
    // A click on a read-only cell shows where the register lives.
    registers->setCurrentCell(1, 0);
    emit registers->cellClicked(1, 0);
    QCOMPARE(registers->toolTip(), QString::asprintf("%s address: 0x%08X",
                                                     record->registers[1].name.c_str(),
                                                     record->registers[1].address));

    // A NAND CPU turns Protect into Check Block and takes Checksum away; an
    // ordinary one gives them back.
    tree->setCurrentItem(TreeItem(tree, "S3C2410 (Nand)"));
    QCOMPARE(W<QPushButton>("protectButton")->text(), QString("Check Block"));
    QVERIFY(!W<QPushButton>("checksumButton")->isEnabled());
    tree->setCurrentItem(TreeItem(tree, "S3C2410"));
    QCOMPARE(W<QPushButton>("protectButton")->text(), QString("Pr&otect"));
    QVERIFY(W<QPushButton>("checksumButton")->isEnabled());
    // Vendor rows choose nothing.
    tree->setCurrentItem(TreeItem(tree, "Samsung"));
    QCOMPARE(window_->workbench().pages().cpu.chip, std::string("S3C2410"));
  }

  void pickingAFlashDeviceFillsWidthsRangeAndSectorList() {
    Open();
    auto* tree = W<QTreeWidget>("flashTree");
    auto* start = Find<QLineEdit>(W<QWidget>("flashPage"), "startAddressEdit");
    start->setText("0x01000000");
    tree->setCurrentItem(TreeItem(tree, "Am29LV160DB"));
    const FlashDevice* device = window_->workbench().pages().flash.database.Find("Am29LV160DB");
    QVERIFY(device);
    auto* widths = W<QComboBox>("widthCombo");
    QCOMPARE(widths->count(), device->width_count());
    QCOMPARE(widths->itemText(0), QString::number(device->widths[0]));
    auto* flash_page = W<QWidget>("flashPage");
    QCOMPARE(Find<QLineEdit>(flash_page, "sectorFromEdit")->text(), QString("1"));
    QCOMPARE(Find<QLineEdit>(flash_page, "sectorToEdit")->text(),
             QString::number(device->sector_count()));
    auto* sectors = W<QTableWidget>("sectorList");
    QCOMPARE(sectors->rowCount(), device->sector_count());
    // Bottom boot block: 16K, 8K, 8K, 32K, then 64K sectors from the start.
    const char* rows[][3] = {{"1", "16K", "0x01000000"}, {"2", "8K", "0x01004000"},
                             {"3", "8K", "0x01006000"},  {"4", "32K", "0x01008000"},
                             {"5", "64K", "0x01010000"}};
    for (int r = 0; r < 5; ++r)
      for (int c = 0; c < 3; ++c) QCOMPARE(sectors->item(r, c)->text(), QString(rows[r][c]));
    // A new start address moves the list.
    start->setText("0");
    QCOMPARE(sectors->item(2, 2)->text(), QString("0x00006000"));
    // The choice reaches the read-out of the program page.
    widths->setCurrentIndex(widths->findText("16"));
    W<QTabWidget>("pageTabs")->setCurrentIndex(2);
    W<QTabWidget>("pageTabs")->setCurrentIndex(0);
    QCOMPARE(W<QLineEdit>("flashDeviceEdit")->text(), QString("Am29LV160DB"));
    QCOMPARE(W<QLineEdit>("flashWidthEdit")->text(), QString("16"));
  }

  void editingARegisterValueMarksItWhileItDiffersFromTheDefault() {
    Open();
    LoadExample();
    auto* registers = W<QTableWidget>("registerList");
    W<QTabWidget>("pageTabs")->setCurrentIndex(1);
    const CpuPage& cpu = window_->workbench().pages().cpu;
    int row = -1;  // WTCON: the file keeps its default
    for (int r = 0; r < registers->rowCount(); ++r)
      if (registers->item(r, 0)->text() == "WTCON") row = r;
    QVERIFY(row >= 0);
    const QString default_text = registers->item(row, 1)->text();
    struct Edit {
      QString typed;
      bool changed;
    };
    for (const Edit& edit : {Edit{"0x1234", true}, Edit{default_text, false}, Edit{"4660", true}}) {
      registers->setCurrentCell(row, 2);
      registers->edit(registers->model()->index(row, 2));
      auto* editor = registers->viewport()->findChild<QLineEdit*>();
      QVERIFY(editor);
      editor->selectAll();
      QTest::keyClicks(editor, edit.typed);
      QTest::keyClick(editor, Qt::Key_Return);
      // The list takes the text when the edit field has closed.
      QTRY_COMPARE(registers->item(row, 2)->text(), edit.typed);
      QTRY_VERIFY(!registers->viewport()->findChild<QLineEdit*>());
      QCOMPARE(registers->item(row, 2)->data(Qt::UserRole).toBool(), edit.changed);
      QCOMPARE(cpu.current.registers[row].value != cpu.current.registers[row].default_value,
               edit.changed);
    }
    QCOMPARE(cpu.current.registers[row].value, 0x1234u);
    // Escape leaves the cell as it was.
    registers->edit(registers->model()->index(row, 2));
    auto* editor = registers->viewport()->findChild<QLineEdit*>();
    QVERIFY(editor);
    QTest::keyClicks(editor, "99");
    QTest::keyClick(editor, Qt::Key_Escape);
    QTRY_VERIFY(!registers->viewport()->findChild<QLineEdit*>());
    QCOMPARE(registers->item(row, 2)->text(), QString("4660"));
    // The memory list takes typed rows into the configuration.
    auto* memory = W<QTableWidget>("memoryList");
    memory->item(0, 0)->setText("0x0C000000");
    memory->item(0, 1)->setText("0x55");
    memory->item(0, 2)->setText("32");
    W<QTabWidget>("pageTabs")->setCurrentIndex(0);
    QCOMPARE(window_->workbench().config().memory_count, 1u);
    QCOMPARE(window_->workbench().config().memory[0].value, 0x55u);
  }

  // Escape meant for a pop-up or a cell editor stays there; Escape that
  // nothing else takes is the Close button. The window must be the active
  // one for its shortcuts to see keys, as it is for a user.
  void escapeInAPopUpOrACellEditorLeavesTheWindowOpen() {
    Open();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    W<QTabWidget>("pageTabs")->setCurrentWidget(W<QWidget>("programPage"));
    auto* format = W<QComboBox>("formatCombo");
    format->setFocus();
    format->showPopup();
    QWidget* popup = format->view();
    QTRY_VERIFY(popup->isVisible());
    QTest::keyClick(popup, Qt::Key_Escape);
    QTRY_VERIFY(!popup->isVisible());
    QVERIFY(window_->isVisible());
    QVERIFY(boxes_->asked().empty());

    W<QTabWidget>("pageTabs")->setCurrentIndex(0);
    auto* memory = W<QTableWidget>("memoryList");
    memory->setFocus();
    memory->setCurrentCell(0, 0);
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
      memory->edit(memory->model()->index(0, 0));
      auto* editor = memory->viewport()->findChild<QLineEdit*>();
      QVERIFY(editor);
      editor->setFocus();
      QTest::keyClicks(editor, "0x10");
      QTest::keyClick(editor, key);
      QTRY_VERIFY(!editor->isVisible());
      QVERIFY(window_->isVisible());
      QTRY_VERIFY(!memory->viewport()->findChild<QLineEdit*>());
    }
    QCOMPARE(memory->item(0, 0)->text(), QString("0x10"));

    // With nothing else to take it, Escape closes the window.
    W<QTabWidget>("pageTabs")->setFocus();
    QTest::keyClick(W<QTabWidget>("pageTabs"), Qt::Key_Escape);
    QTRY_VERIFY(!window_->isVisible());
  }

  void pathTooltipsShowFromThirtySevenCharacters() {
    Open();
    auto* program = W<QLineEdit>("programFileEdit");
    auto* upload = W<QLineEdit>("uploadFileEdit");
    program->setText(QString(36, 'p'));
    QVERIFY(program->toolTip().isEmpty());
    upload->setText(QString(37, 'u'));
    QCOMPARE(upload->toolTip(), QString(37, 'u'));
    QCOMPARE(program->toolTip(), QString(36, 'p'));
    // The browse buttons fill the fields.
    file_answers_ << "/data/image.hex" << "/data/back.bin";
    W<QPushButton>("programBrowseButton")->click();
    W<QPushButton>("uploadBrowseButton")->click();
    QCOMPARE(program->text(), QString("/data/image.hex"));
    QCOMPARE(upload->text(), QString("/data/back.bin"));
    QVERIFY(files_->filters[0].startsWith("Flat Bin File (*.bin);;Intel Hex File (*.hex)"));
    QVERIFY(files_->filters[0].contains(
        "Image File (*.elf *.axf *.srec *.s19 *.s28 *.s37 *.mot *.hex)"));
  }

  void configurationDialogWritesTheRemoteSettings() {
    Open();
    OnNextDialog([](QWidget* dialog) {
      auto* device = Find<QComboBox>(dialog, "remoteDeviceCombo");
      QVERIFY(device->count() >= 1);
      QCOMPARE(device->currentText(), QString("osprey7"));
      QVERIFY(Find<QLabel>(dialog, "driverDescriptionLabel")->text().contains("\nVer: "));
      auto* type = Find<QComboBox>(dialog, "commTypeCombo");
      QCOMPARE(type->currentText(), QString("PARALLEL"));
      QVERIFY(Find<QWidget>(dialog, "parallelPanel")->isVisible());
      Find<QComboBox>(dialog, "parallelPortCombo")->setCurrentIndex(1);
      Find<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Ok)->click();
    });
    Action("configureAction")->trigger();
    const QByteArray ini = ReadBytes(folder_->Path("romsmith.ini"));
    QVERIFY2(ini.contains("Parallel=LPT2"), ini.constData());
    QVERIFY(ini.contains("CommType=Parallel"));
    QVERIFY(ini.contains("Device=osprey7.so"));
    QVERIFY(ini.contains("Speed=0"));
    QCOMPARE(window_->workbench().settings().remote.parallel, std::string("LPT2"));
  }

  void optionDialogChecksRangesAndWritesTheProfile() {
    Open();
    QStringList shown;
    OnNextDialog([this, &shown](QWidget* dialog) {
      auto* time_out = Find<QLineEdit>(dialog, "timeOutEdit");
      shown << time_out->text() << Find<QLineEdit>(dialog, "testRamSizeEdit")->text();
      QVERIFY(!Find<QCheckBox>(dialog, "checkIdCheck")->isEnabled());
      QPushButton* ok = Find<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Ok);
      for (const char* wrong : {"0", "361", "x"}) {
        time_out->setText(wrong);
        ok->click();
        QVERIFY(dialog->isVisible());
      }
      QCOMPARE(boxes_->texts().size(), 3);
      QVERIFY(boxes_->texts()[0].contains("1") && boxes_->texts()[0].contains("360"));
      time_out->setText("20");
      Find<QLineEdit>(dialog, "testRamSizeEdit")->setText("16");
      Find<QLineEdit>(dialog, "resetCountEdit")->setText("0");
      Find<QLineEdit>(dialog, "lpcFrequencyEdit")->setText("4294967295");
      Find<QCheckBox>(dialog, "logCheck")->setChecked(true);
      ok->click();
    });
    Action("optionAction")->trigger();
    QCOMPARE(shown, (QStringList{"12", "4"}));
    const ProgramSettings& settings = window_->workbench().settings();
    QCOMPARE(settings.time_out_polls, 200);
    QCOMPARE(settings.test_ram_bytes, 16384);
    QCOMPARE(settings.reset_count, 0);
    QCOMPARE(settings.log_to_file, 1);
    ProfileStore profile(folder_->profile.toStdString());
    QCOMPARE(profile.GetInt("Option", "TimeOut", -1), 20);
    QCOMPARE(profile.GetInt("Option", "TestRamSize", -1), 16);
    QCOMPARE(profile.GetInt("Option", "ResetCount", -1), 0);
    QCOMPARE(profile.GetInt("Option", "Log", -1), 1);
    QCOMPARE(static_cast<std::uint32_t>(profile.GetInt("Option", "LpcFreq", 0)), 4294967295u);
  }

  void optionDialogOffersEveryUserOptionAndWritesWhatSetAccepts() {
    Open();
    OnNextDialog([](QWidget* dialog) {
      // Every user option of the profile has a field, with its explanation.
      for (const SettingRow& row : SettingRows()) {
        if (row.store != SettingStore::kProfile) continue;
        auto* field = dialog->findChild<QWidget*>(row.object_name);
        QVERIFY2(field, row.key);
        QCOMPARE(field->toolTip(), QString::fromUtf8(row.description));
        QVERIFY(dialog->findChild<QWidget*>(QString(row.object_name) + "Help"));
      }
      Find<QCheckBox>(dialog, "fastReadCheck")->setChecked(true);
      Find<QCheckBox>(dialog, "targetVerifyCheck")->setChecked(true);
      Find<QCheckBox>(dialog, "lpcVectorChecksumCheck")->setChecked(false);
      Find<QLineEdit>(dialog, "timeOutEdit")->setText("360");
      Find<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Ok)->click();
    });
    Action("optionAction")->trigger();
    const ProgramSettings& settings = window_->workbench().settings();
    QCOMPARE(settings.fast_read, 1);
    QCOMPARE(settings.target_verify, 1);
    QCOMPARE(settings.lpc_vector_checksum, 0);
    QCOMPARE(settings.time_out_polls, 3600);
    // What the dialog wrote, --set takes as it is.
    ProfileStore profile(folder_->profile.toStdString());
    for (const SettingRow& row : SettingRows()) {
      if (row.store != SettingStore::kProfile) continue;
      const std::string text = profile.GetText("Option", row.key, "missing");
      QVERIFY2(text != "missing", row.key);
      QCOMPARE(SettingValueError(row, text), std::string());
    }
    QCOMPARE(profile.GetText("Option", "FastRead"), std::string("1"));
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
