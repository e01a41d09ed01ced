// One running copy per user: a second start brings the first window forward
// and ends.
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <thread>

#include "app/main_window.h"
#include "app/single_instance.h"
#include "app/tests/gui_test_support.h"

using namespace romsmith::gui;
using namespace romsmith::gui::testing;

class InstanceTest : public QObject {
  Q_OBJECT

 private slots:
  void secondCopyAsksTheFirstToComeForward() {
    ProgramFolder folder;
    ScriptedBoxes boxes;
    const QString key = SingleInstance::KeyFor(folder.profile);
    SingleInstance first(key);
    QVERIFY(first.BecomePrimary());
    MainWindow window;
    window.Start();
    window.show();
    window.showMinimized();
    connect(&first, &SingleInstance::activationRequested, &window, &MainWindow::BringToFront);
    QSignalSpy asked(&first, &SingleInstance::activationRequested);

    SingleInstance second(key);
    QVERIFY(!second.BecomePrimary());
    // The second copy talks from a thread of its own while this one serves.
    bool answered = false;
    std::thread talker([&] { answered = second.ActivatePrimary(); });
    QTRY_COMPARE(asked.count(), 1);
    talker.join();
    QVERIFY(answered);
    QVERIFY(!window.isMinimized());
    QVERIFY(window.isVisible());
    // Another profile is another user: its copy runs on its own.
    SingleInstance other(SingleInstance::KeyFor(folder.profile + ".other"));
    QVERIFY(other.BecomePrimary());
  }

  void secondStartHandsItsConfigurationOver() {
    ProgramFolder folder;
    const QString key = SingleInstance::KeyFor(folder.profile);
    SingleInstance first(key);
    QVERIFY(first.BecomePrimary());
    QSignalSpy opened(&first, &SingleInstance::openRequested);
    QSignalSpy asked(&first, &SingleInstance::activationRequested);
    SingleInstance second(key);
    // A path relative to the second start's folder reaches the first whole.
    std::thread talker([&] { second.ActivatePrimary("boards/my board.cfg"); });
    QTRY_COMPARE(opened.count(), 1);
    talker.join();
    QCOMPARE(asked.count(), 1);
    QCOMPARE(opened.first().first().toString(), QDir::current().absoluteFilePath("boards/my board.cfg"));
    // Without a file only the activation comes.
    std::thread plain([&] { second.ActivatePrimary(); });
    QTRY_COMPARE(asked.count(), 2);
    plain.join();
    QCOMPARE(opened.count(), 1);
  }

  void secondProgramStartEndsAtOnce() {
    ProgramFolder folder;
    const QString program = folder.Path("romsmith");
    QVERIFY(QFile::copy(StageDir() + "/romsmith", program));
    QFile::copy(StageDir() + "/romsmith.ini", folder.Path("romsmith.ini.default"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("ROMSMITH_NO_SPLASH", "1");
    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(program, {});
    QVERIFY(first.waitForStarted());
    // The first copy listens once its window is up.
    QLocalSocket probe;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
          probe.connectToServer(SingleInstance::KeyFor(folder.profile));
          const bool up = probe.waitForConnected(100);
          probe.abort();
          return up;
        }(),
        10000);
    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(program, {});
    QVERIFY(second.waitForFinished(5000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);
    first.terminate();
    if (!first.waitForFinished(3000)) {
      first.kill();
      first.waitForFinished();
    }
  }
};

QTEST_MAIN(InstanceTest)
#include "instance_test.moc"
