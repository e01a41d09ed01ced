#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>

namespace romsmith::gui {
namespace {

// One line a request: "activate", or "activate" and a tab and the absolute
// path of a configuration to open.
constexpr char kActivate[] = "activate";

QString LockDirectory() {
  const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

}  // namespace

SingleInstance::SingleInstance(const QString& key, QObject* parent)
    : QObject(parent), key_(key) {}

SingleInstance::~SingleInstance() {
  if (server_) server_->close();
}

QString SingleInstance::KeyFor(const QString& profile_path) {
  const QByteArray digest =
      QCryptographicHash::hash(profile_path.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
  return "romsmith-" + QString::fromLatin1(digest);
}

bool SingleInstance::BecomePrimary() {
  lock_ = std::make_unique<QLockFile>(QDir(LockDirectory()).filePath(key_ + ".lock"));
  // A lock left by a copy that died is taken over (QLockFile checks its pid).
  if (!lock_->tryLock(100)) {
    lock_.reset();
    return false;
  }
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  QLocalServer::removeServer(key_);  // a socket file left by a copy that died
  server_->listen(key_);
  connect(server_.get(), &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine()) return;  // the rest of the line is on its way
        const QString line = QString::fromUtf8(socket->readLine()).chopped(1);
        socket->disconnectFromServer();
        if (!line.startsWith(kActivate)) return;
        emit activationRequested();
        const qsizetype tab = line.indexOf('\t');
        if (tab >= 0 && tab + 1 < line.size()) emit openRequested(line.mid(tab + 1));
      });
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
  });
  return true;
}

bool SingleInstance::ActivatePrimary(const QString& config_file, int timeout_ms) {
  QLocalSocket socket;
  socket.connectToServer(key_);
  if (!socket.waitForConnected(timeout_ms)) return false;
  QByteArray request = kActivate;
  // The first copy runs in another directory: it gets the path whole. A
  // line break in a path would end the request early; such a path is not
  // handed over.
  const QString path = config_file.isEmpty() ? QString() : QFileInfo(config_file).absoluteFilePath();
  if (!path.isEmpty() && !path.contains('\n')) request += "\t" + path.toUtf8();
  socket.write(request + "\n");
  const bool written = socket.waitForBytesWritten(timeout_ms);
  socket.waitForDisconnected(timeout_ms);
  return written;
}

}  // namespace romsmith::gui
