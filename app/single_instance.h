// One running copy per user: the first start holds a lock file and listens
// on a local socket; a later start finds the lock taken, asks the first copy
// through the socket to come to the front (and to open the configuration it
// was started with), and ends.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

namespace romsmith::gui {

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  // `key` names the lock file and the socket; one key per user profile.
  explicit SingleInstance(const QString& key, QObject* parent = nullptr);
  ~SingleInstance() override;

  // The key for a user profile file: the program's name and a digest of the
  // profile's path.
  static QString KeyFor(const QString& profile_path);

  // True when this process is the first copy (it then listens); false when
  // another copy holds the lock.
  bool BecomePrimary();
  // Tells the first copy to come to the front, and to open `config_file`
  // when one is given; false when it did not answer.
  bool ActivatePrimary(const QString& config_file = {}, int timeout_ms = 3000);

 signals:
  void activationRequested();
  // After activationRequested, when the later start named a configuration.
  void openRequested(const QString& config_file);

 private:
  QString key_;
  std::unique_ptr<QLockFile> lock_;
  std::unique_ptr<QLocalServer> server_;
};

}  // namespace romsmith::gui
