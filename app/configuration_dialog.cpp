#include "app/configuration_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "platform/paths.h"

namespace romsmith::gui {
namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

// The port number after a prefix ("LPT2" gives index 1); -1 when the text
// does not carry one.
int PortIndex(const std::string& port, const char* prefix) {
  const QString text = QString::fromStdString(port);
  if (!text.startsWith(QLatin1String(prefix), Qt::CaseInsensitive) || text.size() < 4) return -1;
  const int digit = text.at(3).digitValue();
  return digit >= 1 ? digit - 1 : -1;
}

QWidget* Panel(QWidget* parent, const char* name, const QString& label, QWidget* field) {
  auto* panel = new QWidget(parent);
  panel->setObjectName(name);
  auto* layout = new QFormLayout(panel);
  layout->setContentsMargins(0, 0, 0, 0);
  field->setParent(panel);
  layout->addRow(label, field);
  panel->hide();
  return panel;
}

}  // namespace

ConfigurationChoice ChoiceFromSettings(const RemoteSettings& remote) {
  ConfigurationChoice choice;
  choice.device_file = remote.device;
  choice.speed = remote.speed;
  choice.type = CommTypeFromSetting(remote.comm_type);
  if (choice.type == kTypeParallel) choice.port = remote.parallel;
  if (choice.type == kTypeTcpIp) choice.port = remote.ip_addr;
  return choice;
}

void ApplyConfiguration(const ConfigurationChoice& choice, RemoteSettings& remote) {
  remote.device = choice.device_file;
  remote.speed = choice.speed;
  if (choice.type == kTypeNone) {
    remote.comm_type.clear();
    remote.parallel.clear();
    return;
  }
  // A type without a stored text (a serial port) leaves the stored type.
  const CommTypeNameRow* row = CommTypeRow(choice.type);
  if (!row || !row->setting) return;
  remote.comm_type = row->setting;
  if (choice.type == kTypeParallel) remote.parallel = choice.port;
  if (choice.type == kTypeTcpIp) remote.ip_addr = choice.port;
}

ConfigurationDialog::ConfigurationDialog(std::vector<DriverEntry> drivers,
                                         ConfigurationChoice choice, QWidget* parent)
    : QDialog(parent), drivers_(std::move(drivers)), choice_(std::move(choice)) {
  setObjectName("configurationDialog");
  setWindowTitle(tr("Configuration"));

  device_ = new QComboBox(this);
  device_->setObjectName("remoteDeviceCombo");
  description_ = new QLabel(this);
  description_->setObjectName("driverDescriptionLabel");
  description_->setWordWrap(true);
  description_->setMinimumHeight(description_->fontMetrics().lineSpacing() * 2);
  speed_ = new QComboBox(this);
  speed_->setObjectName("debugSpeedCombo");
  type_ = new QComboBox(this);
  type_->setObjectName("commTypeCombo");

  parallel_port_ = new QComboBox;
  parallel_port_->setObjectName("parallelPortCombo");
  parallel_port_->addItems({"LPT1", "LPT2", "LPT3"});
  serial_port_ = new QComboBox;
  serial_port_->setObjectName("serialPortCombo");
  serial_port_->addItems({"COM1", "COM2", "COM3", "COM4"});
  ip_address_ = new QLineEdit;
  ip_address_->setObjectName("ipAddressEdit");
  ip_address_->setMaxLength(31);
  parallel_panel_ = Panel(this, "parallelPanel", tr("Parallel Port:"), parallel_port_);
  serial_panel_ = Panel(this, "serialPanel", tr("RS232 Port:"), serial_port_);
  ip_panel_ = Panel(this, "ipPanel", tr("IP Address:"), ip_address_);

  auto* form = new QFormLayout;
  form->addRow(tr("Remote Device:"), device_);
  form->addRow(QString(), description_);
  form->addRow(tr("Debug Speed:"), speed_);
  form->addRow(tr("Communication Type:"), type_);
  auto* panels = new QVBoxLayout;
  panels->addWidget(parallel_panel_);
  panels->addWidget(serial_panel_);
  panels->addWidget(ip_panel_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("buttonBox");
  connect(buttons, &QDialogButtonBox::accepted, this, &ConfigurationDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &ConfigurationDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(panels);
  layout->addStretch();
  layout->addWidget(buttons);

  // The current device: the first module whose name begins with the stored
  // file name without its suffix; none leaves the list without selection.
  filling_ = true;
  for (const DriverEntry& entry : drivers_) device_->addItem(Text(entry.title));
  device_->setCurrentIndex(-1);
  const QString wanted = Text(platform::StripSharedLibrarySuffix(choice_.device_file));
  for (int i = 0; i < device_->count() && !wanted.isEmpty(); ++i) {
    if (device_->itemText(i).startsWith(wanted, Qt::CaseInsensitive)) {
      device_->setCurrentIndex(i);
      break;
    }
  }
  filling_ = false;
  OnDeviceChanged();

  connect(device_, &QComboBox::currentIndexChanged, this, [this] {
    if (!filling_) OnDeviceChanged();
  });
  connect(speed_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (!filling_ && index >= 0) choice_.speed = index;
  });
  connect(type_, &QComboBox::currentIndexChanged, this, [this] {
    if (!filling_) OnTypeChanged();
  });
}

const DriverEntry* ConfigurationDialog::SelectedDriver() const {
  const int index = device_->currentIndex();
  if (index < 0) return nullptr;
  for (const DriverEntry& entry : drivers_) {
    if (Text(entry.title) == device_->itemText(index)) return &entry;
  }
  return nullptr;
}

void ConfigurationDialog::OnDeviceChanged() {
  filling_ = true;
  speed_->clear();
  type_->clear();
  const DriverEntry* driver = SelectedDriver();
  if (driver == nullptr) {
    description_->clear();
    speed_->setEnabled(false);
    filling_ = false;
    OnTypeChanged();
    return;
  }
  description_->setText(Text(driver->description) + "\nVer: " + Text(driver->version));

  const std::size_t speeds = std::min<std::size_t>(driver->speed_names.size(), driver->speed_count);
  speed_->setEnabled(speeds > 0);
  for (std::size_t i = 0; i < speeds; ++i) speed_->addItem(Text(driver->speed_names[i]));
  speed_->setCurrentIndex(choice_.speed < static_cast<int>(speeds) ? choice_.speed : -1);

  for (const CommTypeNameRow& row : CommTypesOf(driver->comm_types)) {
    type_->addItem(QString::fromLatin1(row.name), row.code);
  }
  const bool current = driver->file_name == choice_.device_file;
  int selected = 0;  // a module chosen anew starts at its first type
  if (current && choice_.type != kTypeNone) {
    const char* name = CommTypeName(choice_.type);
    for (int i = 0; name && i < type_->count(); ++i) {
      if (type_->itemText(i).startsWith(QLatin1String(name), Qt::CaseInsensitive)) {
        selected = i;
        break;
      }
    }
  }
  type_->setCurrentIndex(type_->count() ? selected : -1);
  choice_.device_file = driver->file_name;
  filling_ = false;
  OnTypeChanged();
}

std::string ConfigurationDialog::PortFromPanel(std::uint32_t type, const std::string& otherwise) const {
  switch (type) {
    case kTypeParallel:
      return PortText(CommTypeRow(kTypeParallel)->port_prefix, parallel_port_->currentIndex());
    case kTypeSerial:
      return PortText(CommTypeRow(kTypeSerial)->port_prefix, serial_port_->currentIndex());
    case kTypeTcpIp:
      return ip_address_->text().left(31).toStdString();
    default:
      return otherwise;
  }
}

void ConfigurationDialog::OnTypeChanged() {
  // What the panel being left shows is kept, so nothing typed is lost when
  // the user looks at another type and comes back.
  const QWidget* panels[] = {parallel_panel_, serial_panel_, ip_panel_};
  for (const QWidget* panel : panels) {
    if (panel->isVisibleTo(this)) choice_.port = PortFromPanel(choice_.type, choice_.port);
  }
  const int index = type_->currentIndex();
  choice_.type = index < 0 ? kTypeNone : type_->itemData(index).toUInt();
  parallel_panel_->hide();
  serial_panel_->hide();
  ip_panel_->hide();
  switch (choice_.type) {
    case kTypeParallel: {
      const int port = PortIndex(choice_.port, CommTypeRow(kTypeParallel)->port_prefix);
      parallel_port_->setCurrentIndex(port >= 0 && port < parallel_port_->count() ? port : 0);
      parallel_panel_->show();
      break;
    }
    case kTypeSerial: {
      const int port = PortIndex(choice_.port, CommTypeRow(kTypeSerial)->port_prefix);
      serial_port_->setCurrentIndex(port >= 0 && port < serial_port_->count() ? port : 0);
      serial_panel_->show();
      break;
    }
    case kTypeTcpIp:
      ip_address_->setText(Text(choice_.port));
      ip_panel_->show();
      break;
    default:
      break;
  }
}

void ConfigurationDialog::accept() {
  choice_.port = PortFromPanel(choice_.type, choice_.port);
  QDialog::accept();
}

}  // namespace romsmith::gui
