// Commands through the window's buttons on the virtual board with the
// osprey7 module: what the user sees (controls, progress, status line) and
// what lands in the files and on the board's flash. Each case runs in its
// own process (the board lives in the port library).
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include <cstdlib>
#include <memory>

#include "app/busy_indicator.h"
#include "app/main_window.h"
#include "app/message_boxes.h"
#include "app/status_line.h"
#include "app/tests/gui_test_support.h"

using namespace romsmith;
using namespace romsmith::gui;
using namespace romsmith::gui::testing;

namespace {

constexpr int kFlashBytes = 0x200000;
constexpr int kPatternBytes = 0x6000;  // sectors 1 and 2

QByteArray FlashPattern() {
  QByteArray image(kFlashBytes, '\xFF');
  for (int i = 0; i < kPatternBytes; ++i) image[i] = static_cast<char>((i * 131 + (i >> 7) * 17 + 5) & 0xFF);
  return image;
}

const char* const kCommandButtons[] = {"blankCheckButton", "eraseButton",    "programButton",
                                       "verifyButton",     "checksumButton", "protectButton",
                                       "uploadButton",     "targetTestButton", "registerReadButton"};

}  // namespace

class BoardTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<ProgramFolder> folder_;
  std::unique_ptr<ScriptedBoxes> boxes_;
  std::unique_ptr<MainWindow> window_;
  QStringList files_;
  // What the user saw while the command ran.
  bool controls_went_off_ = false;
  bool progress_reached_end_ = false;
  bool animation_ran_ = false;
  int progress_steps_ = 0;

  template <typename T>
  T* W(const char* name) {
    return Find<T>(window_.get(), name);
  }

  void OpenWithExample(const QString& example = "s3c44b0x-am29lv160db.cfg",
                       const QString& cpu = "S3C44B0X") {
    boxes_ = std::make_unique<ScriptedBoxes>();
    window_ = std::make_unique<MainWindow>();
    window_->SetFileChooser(std::make_unique<ScriptedFiles>(&files_));
    window_->Start();
    window_->show();
    files_ << folder_->Example(example);
    W<QAction>("openAction")->trigger();
    QCOMPARE(W<QLineEdit>("cpuTypeEdit")->text(), cpu);
    auto* progress = W<QProgressBar>("progressBar");
    connect(progress, &QProgressBar::valueChanged, this, [this, progress](int value) {
      if (value > 0) ++progress_steps_;
      if (value > 0 && value == progress->maximum()) progress_reached_end_ = true;
      if (W<BusyIndicator>("busyAnimation")->running()) animation_ran_ = true;
    });
  }

  void SetSectors(int from, int to) {
    W<QTabWidget>("pageTabs")->setCurrentIndex(2);
    auto* page = W<QWidget>("flashPage");
    Find<QLineEdit>(page, "sectorFromEdit")->setText(QString::number(from));
    Find<QLineEdit>(page, "sectorToEdit")->setText(QString::number(to));
    W<QTabWidget>("pageTabs")->setCurrentIndex(0);
  }

  // Clicks a command button and waits for the command's end; the outcome.
  CommandOutcome Run(const char* button, int timeout_ms = 20000) {
    QSignalSpy finished(window_.get(), &MainWindow::commandFinished);
    W<QPushButton>(button)->click();
    controls_went_off_ = true;
    for (const char* name : kCommandButtons) controls_went_off_ &= !W<QPushButton>(name)->isEnabled();
    if (!finished.wait(timeout_ms)) return CommandOutcome::kNone;
    return finished.first().first().value<CommandOutcome>();
  }

  void ExpectControlsBack() {
    for (const char* name : kCommandButtons) QVERIFY2(W<QPushButton>(name)->isEnabled(), name);
    QCOMPARE(W<QPushButton>("closeButton")->text(), QString("Cl&ose"));
    QVERIFY(!W<BusyIndicator>("busyAnimation")->running());
    QCOMPARE(W<QProgressBar>("progressBar")->value(), 0);
  }

  QString Status() { return W<StatusLine>("statusLine")->text(); }

 private slots:
  void init() {
    folder_ = std::make_unique<ProgramFolder>();
    WriteText(folder_->RootPath("flash0.bin"), FlashPattern());
    progress_reached_end_ = animation_ran_ = controls_went_off_ = false;
    progress_steps_ = 0;
  }
  void cleanup() {
    window_.reset();
    boxes_.reset();
    folder_.reset();
    files_.clear();
  }

  void checksumThroughTheButton() {
    OpenWithExample();
    SetSectors(1, 2);
    QCOMPARE(Run("checksumButton"), CommandOutcome::kSucceeded);
    unsigned sum = 0;
    const QByteArray image = FlashPattern();
    for (int i = 0; i < kPatternBytes; ++i) sum += static_cast<unsigned char>(image[i]);
    QCOMPARE(Status(), QString::asprintf("Info: checksum completed, it is 0x%04X.", sum & 0xFFFF));
    QCOMPARE(W<StatusLine>("statusLine")->shown_text_color(), QColor(0, 0, 255));
    QVERIFY(controls_went_off_);
    QVERIFY(progress_reached_end_);
    QVERIFY(animation_ran_);
    ExpectControlsBack();
    // A second command right after the first starts normally.
    QCOMPARE(Run("blankCheckButton"), CommandOutcome::kFailed);
    QVERIFY(Status().startsWith("Error: blank check failed, address 0x00000000"));
    QCOMPARE(W<StatusLine>("statusLine")->shown_text_color(), QColor(255, 0, 0));
  }

  void uploadThroughTheButtonWritesTheSectors() {
    OpenWithExample();
    SetSectors(1, 2);
    const QString upload = folder_->RootPath("upload.bin");
    W<QLineEdit>("uploadFileEdit")->setText(upload);
    QCOMPARE(Run("uploadButton"), CommandOutcome::kSucceeded);
    QCOMPARE(Status(), QString("Info: upload completed."));
    QCOMPARE(ReadBytes(upload), FlashPattern().left(kPatternBytes));
    QVERIFY(controls_went_off_ && progress_reached_end_);
    ExpectControlsBack();
    // Again: the existing file is asked about; No keeps it.
    boxes_->Answer(platform::MessageAnswer::No);
    Run("uploadButton");
    QCOMPARE(boxes_->texts().size(), 1);
    QVERIFY(boxes_->texts()[0].startsWith("Overwrite "));
  }

  void programThroughTheButtonWritesTheFlash() {
    if (!QFile::exists(folder_->Path("parl.mdl")))
      QSKIP("the flash loader for this CPU (parl.mdl) is not staged");
    OpenWithExample();
    SetSectors(1, 4);
    const QString image = SourceDir() + "/data/examples/demo.bin";
    W<QLineEdit>("programFileEdit")->setText(image);
    QCOMPARE(Run("programButton", 60000), CommandOutcome::kSucceeded);
    QVERIFY(controls_went_off_ && progress_reached_end_);
    ExpectControlsBack();
    const QByteArray demo = ReadBytes(image);
    QCOMPARE(ReadBytes(folder_->RootPath("flash0.bin")).left(demo.size()), demo);
  }

  void programImageThroughTheButtonPlacesItsSegments() {
    if (!QFile::exists(folder_->Path("parl.mdl")))
      QSKIP("the flash loader for this CPU (parl.mdl) is not staged");
    if (std::system("command -v arm-none-eabi-ld > /dev/null 2>&1") != 0)
      QSKIP("no ARM toolchain to link the ELF file");
    // Two segments: 8 bytes at 0 in the patterned sector 1, 4 in the
    // erased sector 5 (a first section at 0 leaves no room for ld to map
    // the ELF headers into the segment).
    const QString source = folder_->RootPath("image.s");
    const QString elf = folder_->RootPath("image.elf");
    WriteText(source,
              ".section .a, \"ax\"\n.word 0x11223344, 0x55667788\n"
              ".section .b, \"ax\"\n.word 0xCAFEF00D\n");
    const QString build = QString(
                              "arm-none-eabi-as -o '%1.o' '%2' && arm-none-eabi-ld "
                              "--section-start=.a=0x0 --section-start=.b=0x10000 -e 0 "
                              "-o '%1' '%1.o'")
                              .arg(elf, source);
    QCOMPARE(std::system(build.toLocal8Bit().constData()), 0);
    OpenWithExample();
    W<QLineEdit>("programFileEdit")->setText(elf);
    auto* format = W<QComboBox>("formatCombo");
    format->setCurrentIndex(format->findText("Image (ELF, S-record, HEX)"));
    QVERIFY(format->currentIndex() > 0);
    QCOMPARE(Run("programButton", 60000), CommandOutcome::kSucceeded);
    ExpectControlsBack();
    QByteArray expected = FlashPattern();
    expected.replace(0, 8, QByteArray::fromHex("4433221188776655"));
    expected.replace(0x10000, 4, QByteArray::fromHex("0DF0FECA"));
    QCOMPARE(ReadBytes(folder_->RootPath("flash0.bin")), expected);
  }

  void checkBlockListsTheBadBlocks() {
    // The S3C2410 NAND board: factory bad blocks 4 and 10, counted from 1.
    folder_->WriteSettings("osprey9.so", "Parallel", "LPT1");
    QFile::remove(folder_->board);
    QVERIFY(QFile::copy(StageDir() + "/ports/simboard/board-s3c2410-nand.ini", folder_->board));
    QFile::setPermissions(folder_->board, QFile::ReadOwner | QFile::WriteOwner);
    OpenWithExample("s3c2410-nand-k9f1208u0b.cfg", "S3C2410 (Nand)");
    SetSectors(1, 12);
    QCOMPARE(W<QPushButton>("protectButton")->text(), QString("Check Block"));
    QCOMPARE(Run("protectButton", 60000), CommandOutcome::kSucceeded);
    const QString line = "Bad blocks in sectors 1-12: 4, 10";
    // In the status line and its message list, as the command line prints it.
    QCOMPARE(Status(), "Info: " + line);
    QCOMPARE(W<StatusLine>("statusLine")->messages().last().text, "Info: " + line);
    // And as a list to copy.
    auto* window = W<QWidget>("badBlockWindow");
    QVERIFY(window && window->isVisible());
    QCOMPARE(Find<QLabel>(window, "badBlockSummary")->text(), line);
    auto* list = Find<QListWidget>(window, "badBlockList");
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->item(0)->text(), QString("4"));
    QCOMPARE(list->item(1)->text(), QString("10"));
    auto* copy = Find<QPushButton>(window, "copyBadBlocksButton");
    copy->click();
    QCOMPARE(QApplication::clipboard()->text(), line);
    list->item(1)->setSelected(true);
    copy->click();
    QCOMPARE(QApplication::clipboard()->text(), QString("10"));
    // A check of good blocks only says so, in the same window.
    SetSectors(5, 9);
    QCOMPARE(Run("protectButton", 60000), CommandOutcome::kSucceeded);
    QCOMPARE(Find<QLabel>(window, "badBlockSummary")->text(), QString("Bad blocks in sectors 5-9: none"));
    QCOMPARE(list->count(), 0);
    QCOMPARE(window_->findChildren<QWidget*>("badBlockWindow").size(), 1);
  }

  void stopDuringARealTimeRunEndsTheCommandAndKeepsTheWindow() {
    // Real time at 1 MHz: the run takes as long as the reads on the probe.
    folder_->EditBoard("Timing=Deterministic", "Timing=RealTime");
    folder_->EditBoard("ClockKHz=60000", "ClockKHz=1000");
    OpenWithExample();
    SetSectors(1, 35);
    W<QLineEdit>("uploadFileEdit")->setText(folder_->RootPath("all.bin"));
    QSignalSpy finished(window_.get(), &MainWindow::commandFinished);
    W<QPushButton>("uploadButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(progress_steps_ > 2, 10000);
    auto* close = W<QPushButton>("closeButton");
    QCOMPARE(close->text(), QString("&Stop"));
    QVERIFY(close->isEnabled());
    close->click();
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.first().first().value<CommandOutcome>(), CommandOutcome::kStopped);
    QCOMPARE(Status(), QString("Info: user stop upload."));
    QVERIFY(window_->isVisible());
    ExpectControlsBack();
    // Once idle, Close closes.
    close->click();
    QVERIFY(!window_->isVisible());
  }

  void closeBoxDuringAQuestionStopsTheCommandAndKeepsTheWindow() {
    OpenWithExample();
    SetSectors(1, 35);
    const QString upload = folder_->RootPath("kept.bin");
    WriteText(upload, "the user's file");
    W<QLineEdit>("uploadFileEdit")->setText(upload);
    // Real boxes over the window: the worker's "Overwrite" question waits
    // for a user, who presses the window's close box first and then answers.
    QtMessageBoxes real_boxes(window_.get());
    QStringList questions;
    bool close_box_pressed = false;
    QTimer user;
    connect(&user, &QTimer::timeout, this, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || !box->isVisible()) return;
      if (!close_box_pressed) {
        questions << box->text();
        QCloseEvent close_box;
        QCoreApplication::sendEvent(window_->windowHandle(), &close_box);
        close_box_pressed = true;  // the question stays until it is answered
      } else {
        questions << box->text();
        box->defaultButton()->click();
      }
    });
    user.start(20);
    QSignalSpy finished(window_.get(), &MainWindow::commandFinished);
    W<QPushButton>("uploadButton")->click();
    QVERIFY(finished.wait(15000));
    user.stop();
    QCOMPARE(finished.first().first().value<CommandOutcome>(), CommandOutcome::kStopped);
    QCOMPARE(questions.size(), 2);
    QVERIFY(questions[0].startsWith("Overwrite ") && questions[1] == questions[0]);
    // The upload began after the answer and saw the stop before its first
    // block: the old file is untouched and the window stays open.
    QCOMPARE(Status(), QString("Info: user stop upload."));
    QCOMPARE(ReadBytes(upload), QByteArray("the user's file"));
    QVERIFY(window_->isVisible());
    ExpectControlsBack();
  }
};

QTEST_MAIN(BoardTest)
#include "board_test.moc"
