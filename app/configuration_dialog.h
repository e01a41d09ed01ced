// Setting > Configure: the driver module, its debug speed and its
// communication port. The dialog works on a choice record; what OK stores in
// the "Remote" settings is ApplyConfiguration's job.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

#include "operations/workbench.h"
#include "target_data/comm_types.h"
#include "target_data/program_settings.h"

namespace romsmith::gui {

// The types the dialog has panels or stored texts for, as the contract codes
// them.
inline constexpr std::uint32_t kTypeNone = kCommNone;
inline constexpr std::uint32_t kTypeSerial = kCommSerial;
inline constexpr std::uint32_t kTypeTcpIp = kCommTcpIp;
inline constexpr std::uint32_t kTypeUsb = kCommUsb;
inline constexpr std::uint32_t kTypeParallel = kCommParallel;

// What the dialog edits.
struct ConfigurationChoice {
  std::string device_file;  // driver module file name, with its suffix
  std::int32_t speed = 0;   // index into the module's speed names
  std::uint32_t type = 0;   // communication type bit
  std::string port;         // "LPTn", "COMn" or an IP address
};

// The dialog's starting point from the stored "Remote" settings: "Parallel"
// carries the parallel port text, "TCPIP" the IP address, "USB" nothing;
// any other type text gives no type (all compared ignoring case).
ConfigurationChoice ChoiceFromSettings(const RemoteSettings& remote);

// What OK stores: the device and speed always; by type, no type empties the
// type and parallel port texts, parallel and TCP/IP store their port text,
// USB its name, and any other type leaves the stored type as it was.
void ApplyConfiguration(const ConfigurationChoice& choice, RemoteSettings& remote);

class ConfigurationDialog : public QDialog {
  Q_OBJECT

 public:
  ConfigurationDialog(std::vector<DriverEntry> drivers, ConfigurationChoice choice,
                      QWidget* parent = nullptr);

  // The choice, with the port text taken from the visible panel (valid after
  // the dialog was accepted).
  const ConfigurationChoice& choice() const { return choice_; }

  void accept() override;

 private:
  void OnDeviceChanged();
  void OnTypeChanged();
  const DriverEntry* SelectedDriver() const;
  // The port text the panel of `type` shows; `otherwise` for a type
  // without a panel.
  std::string PortFromPanel(std::uint32_t type, const std::string& otherwise) const;

  std::vector<DriverEntry> drivers_;
  ConfigurationChoice choice_;
  QComboBox* device_;
  QLabel* description_;
  QComboBox* speed_;
  QComboBox* type_;
  QWidget* parallel_panel_;
  QComboBox* parallel_port_;
  QWidget* serial_panel_;
  QComboBox* serial_port_;
  QWidget* ip_panel_;
  QLineEdit* ip_address_;
  bool filling_ = false;
};

}  // namespace romsmith::gui
