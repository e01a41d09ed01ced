// The window's parts on their own: the status line's colours and blinking,
// the progress bar as a worker drives it, the help language, the configuration dialog's lists and panels with
// described driver modules, and what the two dialogs store.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>

#include "app/configuration_dialog.h"
#include "app/help_files.h"
#include "app/option_dialog.h"
#include "app/progress_pacer.h"
#include "app/status_line.h"
#include "app/vendor_tree.h"
#include "app/window_frontend.h"

#include <atomic>
#include <functional>
#include <thread>

using namespace romsmith;
using namespace romsmith::gui;

namespace {

DriverEntry Driver(const char* title, std::uint32_t types, std::vector<std::string> speeds) {
  DriverEntry entry;
  entry.title = title;
  entry.file_name = std::string(title) + ".so";
  entry.description = std::string("The ") + title + " probe";
  entry.version = "1.2";
  entry.comm_types = types;
  entry.speed_count = static_cast<std::uint32_t>(speeds.size());
  entry.speed_names = std::move(speeds);
  return entry;
}

// Runs `work` on a thread of its own, as a command's worker, while this
// thread serves the calls it makes; true when it ended in time.
bool RunAsWorker(const std::function<void()>& work) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    work();
    done = true;
  });
  QElapsedTimer clock;
  clock.start();
  while (!done && clock.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  worker.join();
  return done;
}

QStringList Items(QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

}  // namespace

class PartsTest : public QObject {
  Q_OBJECT

 private slots:
  void blinkRatesAndLineColours() {
    QCOMPARE(StatusLine::BlinkIntervalMs(0), 2000);
    QCOMPARE(StatusLine::BlinkIntervalMs(1), 1000);
    QCOMPARE(StatusLine::BlinkIntervalMs(2), 500);
    QCOMPARE(StatusLine::BlinkIntervalMs(250), 250);

    StatusLine line;
    line.ShowLine("Error: verify failed.\n", true, true);
    QCOMPARE(line.text(), QString("Error: verify failed."));
    QCOMPARE(line.shown_text_color(), QColor(255, 0, 0));
    QVERIFY(line.text_blinking());
    QCOMPARE(line.blink_interval_ms(), 1000);
    line.ShowLine("Info: upload completed.\n", false, false);
    QCOMPARE(line.shown_text_color(), QColor(0, 0, 255));
    QVERIFY(!line.text_blinking());

    // Blinking alternates with black and tells its owner at each second state.
    line.SetTextBlink(true, Qt::black, 20);
    QSignalSpy steps(&line, &StatusLine::blinkStep);
    QTRY_VERIFY(line.in_second_state());
    QCOMPARE(line.shown_text_color(), QColor(Qt::black));
    QTRY_VERIFY(steps.count() >= 2);
    line.SetTextBlink(false);
    QCOMPARE(line.shown_text_color(), QColor(0, 0, 255));
  }

  void progressFromAWorkerIsCoalescedAndShowsTheEnds() {
    QProgressBar bar;
    bar.setRange(0, 1024);
    bar.setValue(0);
    ProgressPacer pacer(&bar, 30);
    QList<int> shown;
    connect(&bar, &QProgressBar::valueChanged, this, [&](int value) { shown << value; });

    // Thousands of steps as fast as a worker makes them: far fewer paints,
    // in order, the full bar among them, and the reset after it last.
    constexpr int kSteps = 4000;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(RunAsWorker([&] {
      pacer.SetRange(0, kSteps);
      for (int i = 0; i < kSteps + 10; ++i) pacer.Step();  // past the end stays at the end
      pacer.SetPosition(0);
    }));
    QTest::qWait(100);
    QVERIFY(shown.contains(kSteps));
    QCOMPARE(shown.last(), 0);
    QCOMPARE(bar.value(), 0);
    QVERIFY2(shown.size() <= clock.elapsed() / 30 + 4, qPrintable(QString::number(shown.size())));
    for (int i = 1; i < shown.indexOf(kSteps); ++i) QVERIFY(shown[i] > shown[i - 1]);
  }

  void progressHeldBackIsShownSoonAfter() {
    // The last position before a long wait is shown within an interval, not
    // only at the next step.
    QProgressBar bar;
    bar.setRange(0, 100);
    ProgressPacer pacer(&bar, 30);
    QVERIFY(RunAsWorker([&] {
      pacer.SetRange(0, 100);
      for (int position = 1; position <= 40; ++position) pacer.SetPosition(position);
    }));
    QTRY_COMPARE_WITH_TIMEOUT(bar.value(), 40, 1000);
  }

  void progressRangeAndStepsAsTheBarHasThem_data() {
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("after_step");
    QTest::newRow("value kept within the new range") << 5 << 0 << 10 << 6;
    QTest::newRow("value beyond the new end: steps from the start") << 900 << 0 << 10 << 0;
    QTest::newRow("empty range stays at its end") << 0 << 3 << 3 << 3;
  }
  void progressRangeAndStepsAsTheBarHasThem() {
    QFETCH(int, before);
    QFETCH(int, low);
    QFETCH(int, high);
    QFETCH(int, after_step);
    QProgressBar bar;
    bar.setRange(0, 1024);
    bar.setValue(before);
    ProgressPacer pacer(&bar, 30);
    QVERIFY(RunAsWorker([&] {
      pacer.SetRange(low, high);
      pacer.Step();
    }));
    QTRY_COMPARE_WITH_TIMEOUT(bar.value(), after_step, 1000);
    // On the window's own thread a position shows at once.
    pacer.SetPosition(low);
    QCOMPARE(bar.value(), low);
  }

  void questionsFromTheWorkerOnceTheWindowIsClosing_data() {
    QTest::addColumn<bool>("closing");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<int>("answer");
    QTest::newRow("running: the user answers") << false << true << int(platform::MessageAnswer::No);
    QTest::newRow("closing: the default, unseen") << true << false << int(platform::MessageAnswer::Yes);
  }
  void questionsFromTheWorkerOnceTheWindowIsClosing() {
    QFETCH(bool, closing);
    QFETCH(bool, shown);
    QFETCH(int, answer);
    int asked = 0;
    platform::ScopedMessageHandler user([&](const platform::MessageRequest&) {
      ++asked;
      return platform::MessageAnswer::No;
    });
    QWidget window;
    WindowFrontend frontend;
    frontend.Attach({&window, nullptr, nullptr, nullptr, {}, [&] { return closing; }});
    platform::MessageAnswer got = platform::MessageAnswer::Cancel;
    QVERIFY(RunAsWorker([&] {
      got = frontend.Ask({"Overwrite upload.bin?", "Romsmith", platform::MessageIcon::Question,
                          platform::MessageButtons::YesNo});
    }));
    QCOMPARE(asked, shown ? 1 : 0);
    QCOMPARE(int(got), answer);
  }

  void vendorTreeGroupsRecordsAndSelectsOnlyRecords_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("selected_vendor");
    QTest::newRow("a record") << "LPC2106" << "Philips";
    QTest::newRow("the first of two with one name") << "Twin" << "Atmel";
    QTest::newRow("a vendor's name is no record") << "Samsung" << "";
    QTest::newRow("unknown") << "Z80" << "";
  }
  void vendorTreeGroupsRecordsAndSelectsOnlyRecords() {
    QFETCH(QString, name);
    QFETCH(QString, selected_vendor);
    struct Record {
      std::string vendor;
      std::string name;
    };
    const std::vector<Record> records = {{"Samsung", "S3C44B0X"}, {"Atmel", "AT91SAM7S64"},
                                         {"Philips", "LPC2106"},  {"Atmel", "Twin"},
                                         {"Samsung", "S3C2410"},  {"Philips", "Twin"},
                                         {"Nobody", "Stray"}};
    QTreeWidget tree;
    FillVendorTree(&tree, {"Atmel", "Philips", "Samsung", "Empty"}, records);
    // Vendors in their own order, records under their vendor in file order;
    // a record of a vendor not listed has no place.
    QStringList rows;
    for (int v = 0; v < tree.topLevelItemCount(); ++v) {
      QTreeWidgetItem* vendor = tree.topLevelItem(v);
      QStringList names;
      for (int r = 0; r < vendor->childCount(); ++r) names << vendor->child(r)->text(0);
      rows << vendor->text(0) + ": " + names.join(", ");
    }
    QCOMPARE(rows, QStringList({"Atmel: AT91SAM7S64, Twin", "Philips: LPC2106, Twin",
                                "Samsung: S3C44B0X, S3C2410", "Empty: "}));
    QVERIFY(RecordNameOf(tree.topLevelItem(0)).isEmpty());

    tree.setCurrentItem(tree.topLevelItem(0)->child(0));
    SelectInVendorTree(&tree, name);
    QTreeWidgetItem* current = tree.currentItem();
    if (selected_vendor.isEmpty()) {
      QVERIFY(current == nullptr);
    } else {
      QCOMPARE(RecordNameOf(current), name);
      QCOMPARE(current->parent()->text(0), selected_vendor);
    }
  }

  void helpLanguageFollowsTheLocale_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("page");
    QTest::newRow("simplified Chinese") << "zh_CN" << "/p/help/zh/index.html";
    QTest::newRow("traditional Chinese") << "zh_TW" << "/p/help/zh/index.html";
    QTest::newRow("English") << "en_US" << "/p/help/en/index.html";
    QTest::newRow("German") << "de_DE" << "/p/help/en/index.html";
  }
  void helpLanguageFollowsTheLocale() {
    QFETCH(QString, locale);
    QFETCH(QString, page);
    QCOMPARE(HelpStartPage("/p/", QLocale(locale)), page);
  }

  void configurationChoiceFromAndToTheSettings_data() {
    QTest::addColumn<QString>("comm_type");
    QTest::addColumn<uint>("type");
    QTest::addColumn<QString>("port");
    QTest::newRow("parallel") << "parallel" << uint(kTypeParallel) << "LPT3";
    QTest::newRow("tcp/ip") << "TCPIP" << uint(kTypeTcpIp) << "10.0.0.7";
    QTest::newRow("usb") << "Usb" << uint(kTypeUsb) << "";
    QTest::newRow("other") << "RS232" << uint(kTypeNone) << "";
  }
  void configurationChoiceFromAndToTheSettings() {
    QFETCH(QString, comm_type);
    QFETCH(uint, type);
    QFETCH(QString, port);
    RemoteSettings remote{"wren7.so", comm_type.toStdString(), "LPT3", "10.0.0.7", 2};
    const ConfigurationChoice choice = ChoiceFromSettings(remote);
    QCOMPARE(choice.type, type);
    QCOMPARE(QString::fromStdString(choice.port), port);
    QCOMPARE(choice.speed, 2);
  }

  void applyingTheConfigurationStoresByType() {
    RemoteSettings remote{"wren7.so", "TCPIP", "LPT1", "10.0.0.7", 0};
    ApplyConfiguration({"osprey7.so", 1, kTypeParallel, "LPT2"}, remote);
    QCOMPARE(remote, (RemoteSettings{"osprey7.so", "Parallel", "LPT2", "10.0.0.7", 1}));
    ApplyConfiguration({"osprey7.so", 1, kTypeTcpIp, "192.168.1.9"}, remote);
    QCOMPARE(remote, (RemoteSettings{"osprey7.so", "TCPIP", "LPT2", "192.168.1.9", 1}));
    ApplyConfiguration({"osprey7.so", 1, kTypeSerial, "COM2"}, remote);
    QCOMPARE(remote.comm_type, std::string("TCPIP"));  // other types leave it
    ApplyConfiguration({"osprey7.so", 0, kTypeNone, ""}, remote);
    QCOMPARE(remote, (RemoteSettings{"osprey7.so", "", "", "192.168.1.9", 0}));
  }

  void configurationDialogListsWhatTheModuleOffers() {
    const std::vector<DriverEntry> drivers = {
        Driver("harrier7", kTypeParallel, {"Fast", "Slow"}),
        Driver("netprobe", kTypeSerial | kTypeTcpIp | kTypeUsb, {}),
    };
    ConfigurationDialog dialog(drivers, {"harrier7.so", 1, kTypeParallel, "LPT3"});
    dialog.show();
    auto* device = dialog.findChild<QComboBox*>("remoteDeviceCombo");
    auto* speed = dialog.findChild<QComboBox*>("debugSpeedCombo");
    auto* type = dialog.findChild<QComboBox*>("commTypeCombo");
    QCOMPARE(Items(device), (QStringList{"harrier7", "netprobe"}));
    QCOMPARE(dialog.findChild<QLabel*>("driverDescriptionLabel")->text(),
             QString("The harrier7 probe\nVer: 1.2"));
    QCOMPARE(Items(speed), (QStringList{"Fast", "Slow"}));
    QCOMPARE(speed->currentIndex(), 1);
    QCOMPARE(Items(type), QStringList{"PARALLEL"});
    QVERIFY(dialog.findChild<QWidget*>("parallelPanel")->isVisible());
    QCOMPARE(dialog.findChild<QComboBox*>("parallelPortCombo")->currentText(), QString("LPT3"));

    // Another module: no speeds (the list is off), its types in bit order,
    // and the panel of the type picked.
    device->setCurrentIndex(1);
    QVERIFY(!speed->isEnabled());
    QCOMPARE(Items(type), (QStringList{"RS232", "TCPIP", "USB"}));
    QVERIFY(dialog.findChild<QWidget*>("serialPanel")->isVisible());
    QVERIFY(!dialog.findChild<QWidget*>("parallelPanel")->isVisible());
    type->setCurrentIndex(1);
    QVERIFY(dialog.findChild<QWidget*>("ipPanel")->isVisible());
    dialog.findChild<QLineEdit*>("ipAddressEdit")->setText("10.1.2.3");
    type->setCurrentIndex(2);
    QVERIFY(!dialog.findChild<QWidget*>("ipPanel")->isVisible());
    type->setCurrentIndex(1);
    dialog.accept();
    QCOMPARE(dialog.choice().device_file, std::string("netprobe.so"));
    QCOMPARE(dialog.choice().type, kTypeTcpIp);
    QCOMPARE(dialog.choice().port, std::string("10.1.2.3"));
  }

  void configurationDialogWithAModuleThatIsGone() {
    ConfigurationDialog dialog({Driver("wren7", kTypeParallel, {"1 MHz"})},
                               {"kestrel7.so", 0, kTypeParallel, "LPT1"});
    dialog.show();
    QCOMPARE(dialog.findChild<QComboBox*>("remoteDeviceCombo")->currentIndex(), -1);
    QVERIFY(dialog.findChild<QLabel*>("driverDescriptionLabel")->text().isEmpty());
    QCOMPARE(dialog.findChild<QComboBox*>("debugSpeedCombo")->count(), 0);
    QCOMPARE(dialog.findChild<QComboBox*>("commTypeCombo")->count(), 0);
    for (const char* panel : {"parallelPanel", "serialPanel", "ipPanel"})
      QVERIFY(!dialog.findChild<QWidget*>(panel)->isVisible());
  }

  void optionUnitsBetweenDialogAndSettings() {
    ProgramSettings settings;
    settings.time_out_polls = 120;
    settings.test_ram_bytes = 4096;
    settings.lpc_frequency = -1;
    OptionValues values = OptionsFromSettings(settings);
    QCOMPARE(values.at("TimeOut"), 12);
    QCOMPARE(values.at("TestRamSize"), 4);
    QCOMPARE(values.at("LpcFreq"), 4294967295LL);
    values["TimeOut"] = 5;
    values["TestRamSize"] = 16;
    ApplyOptions(values, settings);
    QCOMPARE(settings.time_out_polls, 50);
    QCOMPARE(settings.test_ram_bytes, 16384);
    QCOMPARE(settings.lpc_frequency, -1);
  }
};

QTEST_MAIN(PartsTest)
#include "parts_test.moc"
