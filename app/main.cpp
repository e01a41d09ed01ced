// romsmith: the desktop program.
#include <QApplication>
#include <QPainter>
#include <QSplashScreen>
#include <QStringList>
#include <QSvgRenderer>
#include <QTimer>

#include "app/main_window.h"
#include "app/message_boxes.h"
#include "app/single_instance.h"
#include "app/start_arguments.h"
#include "platform/paths.h"

#include <cstdio>

namespace {

// The start-up splash: the program's icon and name, for a moment or until
// the user presses a key or a mouse button.
class Splash : public QSplashScreen {
 public:
  explicit Splash(const QPixmap& pixmap) : QSplashScreen(pixmap) {
    setObjectName("splash");
    QTimer::singleShot(1200, this, &QWidget::close);
  }

 protected:
  void keyPressEvent(QKeyEvent*) override { close(); }
};

QPixmap SplashPixmap() {
  QPixmap pixmap(320, 120);
  pixmap.fill(QApplication::palette().color(QPalette::Window));
  QPainter painter(&pixmap);
  QSvgRenderer(QString(":/icons/romsmith.svg")).render(&painter, QRectF(20, 20, 80, 80));
  painter.setPen(QApplication::palette().color(QPalette::WindowText));
  QFont font = QApplication::font();
  font.setPointSize(font.pointSize() * 2);
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(QRect(116, 20, 200, 50), Qt::AlignLeft | Qt::AlignVCenter, "Romsmith");
  painter.setFont(QApplication::font());
  painter.drawText(QRect(116, 64, 200, 30), Qt::AlignLeft | Qt::AlignVCenter,
                   "Version " + QApplication::applicationVersion());
  return pixmap;
}

}  // namespace

int main(int argc, char** argv) {
  using romsmith::gui::StartArguments;
  // --help and --version answer before the toolkit looks for a display.
  QStringList raw;
  for (int i = 0; i < argc; ++i) raw << QString::fromLocal8Bit(argv[i]);
  const StartArguments early = romsmith::gui::ParseStartArguments(raw);
  if (early.action == StartArguments::Action::kHelp) {
    std::fputs(qPrintable(romsmith::gui::StartUsageText()), stdout);
    return 0;
  }
  if (early.action == StartArguments::Action::kVersion) {
    std::fputs(qPrintable(romsmith::gui::StartVersionText(ROMSMITH_VERSION)), stdout);
    return 0;
  }

  QApplication app(argc, argv);
  // What is left once the toolkit has taken its own options.
  const StartArguments start = romsmith::gui::ParseStartArguments(QApplication::arguments());
  if (start.action == StartArguments::Action::kError) {
    std::fprintf(stderr, "romsmith: %s\nTry 'romsmith --help'.\n", qPrintable(start.error));
    return 2;
  }
  QApplication::setApplicationName("Romsmith");
  QApplication::setApplicationVersion(ROMSMITH_VERSION);
  QApplication::setDesktopFileName("romsmith");
  QApplication::setWindowIcon(QIcon(":/icons/romsmith.svg"));

  romsmith::gui::SingleInstance instance(romsmith::gui::SingleInstance::KeyFor(
      QString::fromStdString(platform::ProfilePath().string())));
  if (!instance.BecomePrimary()) {
    // Another copy runs for this user: bring it forward and end quietly.
    instance.ActivatePrimary(start.config_file);
    return 0;
  }

  Splash splash(SplashPixmap());
  if (qEnvironmentVariableIsEmpty("ROMSMITH_NO_SPLASH")) splash.show();

  romsmith::gui::MainWindow window;
  romsmith::gui::QtMessageBoxes boxes(&window);
  window.Start();
  QObject::connect(&instance, &romsmith::gui::SingleInstance::activationRequested, &window,
                   &romsmith::gui::MainWindow::BringToFront);
  QObject::connect(&instance, &romsmith::gui::SingleInstance::openRequested, &window,
                   &romsmith::gui::MainWindow::OpenConfigurationFile);
  window.show();
  if (!start.config_file.isEmpty()) window.OpenConfigurationFile(start.config_file);
  return app.exec();
}
