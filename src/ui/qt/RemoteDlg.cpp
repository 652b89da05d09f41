#include "ui/qt/RemoteDlg.h"

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include "desktop/UserSeams.h"
#include "server/LocalAddresses.h"
#include "server/OscListener.h"
#include "server/QrCode.h"
#include "server/RemoteServer.h"
#include "settings/ProfileStore.h"
#include "ui/DialogTables.h"
#include "ui/RemoteControlHost.h"
#include "ui/qt/DialogBuilder.h"

namespace {

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// The code on a white quiet zone of four modules, scaled to whole pixels.
QPixmap QrPixmap(const std::string& text, int side) {
  const QrCode code = EncodeQr(text);
  if (code.width == 0) return {};
  const int modules = code.width + 8;
  const int scale = std::max(1, side / modules);
  QImage image(modules * scale, modules * scale, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  for (int y = 0; y < code.width; ++y) {
    for (int x = 0; x < code.width; ++x) {
      if (code.Dark(x, y)) painter.fillRect((x + 4) * scale, (y + 4) * scale, scale, scale, Qt::black);
    }
  }
  return QPixmap::fromImage(image);
}

}  // namespace

CRemoteDlg::CRemoteDlg(RemoteControlHost& host, QWidget* parent)
    : QDialog(parent), m_host(host), m_controls(BuildDialog(this, RemoteTemplate())) {
  setObjectName(QStringLiteral("remote"));
  if (auto* ok = qobject_cast<QPushButton*>(Control(QM_IDOK))) connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
  if (auto* cancel = qobject_cast<QPushButton*>(Control(QM_IDCANCEL))) {
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  }
  if (auto* renew = qobject_cast<QPushButton*>(Control(IDC_REMOTE_NEW_TOKEN))) {
    connect(renew, &QPushButton::clicked, this, [this] { OnNewToken(); });
  }
  if (auto* status = qobject_cast<QLabel*>(Control(IDC_REMOTE_STATUS))) status->setWordWrap(true);
}

QWidget* CRemoteDlg::Control(int id) const {
  return findChild<QWidget*>(QStringLiteral("control%1").arg(id), Qt::FindDirectChildrenOnly);
}

int CRemoteDlg::DoModal() {
  LoadControls();
  ShowState({});
  CenterDialog(this);
  FocusFirstTabStop(m_controls);
  return exec() == QDialog::Accepted ? QM_IDOK : QM_IDCANCEL;
}

void CRemoteDlg::LoadControls() {
  m_settings = ReadRemoteSettings(CurrentProfileStore());
  EnsureAccessToken(CurrentProfileStore(), m_settings);
  if (auto* page = qobject_cast<QCheckBox*>(Control(IDC_REMOTE_PAGE))) page->setChecked(m_settings.pageEnabled);
  if (auto* port = qobject_cast<QLineEdit*>(Control(IDC_REMOTE_PORT))) port->setText(QString::number(m_settings.pagePort));
  if (auto* osc = qobject_cast<QCheckBox*>(Control(IDC_REMOTE_OSC))) osc->setChecked(m_settings.oscEnabled);
  if (auto* port = qobject_cast<QLineEdit*>(Control(IDC_REMOTE_OSC_PORT))) {
    port->setText(QString::number(m_settings.oscPort));
  }
  if (auto* hosts = qobject_cast<QLineEdit*>(Control(IDC_REMOTE_OSC_HOSTS))) {
    hosts->setText(FromUtf8(m_settings.oscAllowedHosts));
  }
}

bool CRemoteDlg::SaveControls(RemoteSettings& settings) {
  auto refuse = [this](int id, const std::string& text) {
    CurrentUserSeams().ShowMessageBox(this, text, "Quillmark", QM_MB_OK | QM_MB_ICONEXCLAMATION);
    if (QWidget* control = Control(id)) control->setFocus(Qt::OtherFocusReason);
    return false;
  };
  auto text = [this](int id) {
    auto* edit = qobject_cast<QLineEdit*>(Control(id));
    return edit ? edit->text().trimmed().toStdString() : std::string();
  };
  auto checked = [this](int id) {
    auto* box = qobject_cast<QCheckBox*>(Control(id));
    return box && box->isChecked();
  };
  settings.pageEnabled = checked(IDC_REMOTE_PAGE);
  if (!ParsePort(text(IDC_REMOTE_PORT), settings.pagePort)) {
    return refuse(IDC_REMOTE_PORT, "Enter a port number from 1 to 65535.");
  }
  settings.oscEnabled = checked(IDC_REMOTE_OSC);
  if (!ParsePort(text(IDC_REMOTE_OSC_PORT), settings.oscPort)) {
    return refuse(IDC_REMOTE_OSC_PORT, "Enter a port number from 1 to 65535.");
  }
  settings.oscAllowedHosts = text(IDC_REMOTE_OSC_HOSTS);
  OscAllowedHosts hosts;
  std::string bad;
  if (!hosts.Parse(settings.oscAllowedHosts, bad)) {
    return refuse(IDC_REMOTE_OSC_HOSTS,
                  "\"" + bad + "\" is not an address or a range such as 192.168.1.0/24.");
  }
  return true;
}

void CRemoteDlg::OnOK() {
  RemoteSettings settings = m_settings;
  if (!SaveControls(settings)) return;
  if (!WriteRemoteSettings(CurrentProfileStore(), settings)) {
    CurrentUserSeams().ShowMessageBox(this, "Could not write to " + CurrentProfileStore().Location() + ".",
                                      "Quillmark", QM_MB_OK | QM_MB_ICONEXCLAMATION);
    return;
  }
  m_settings = settings;
  std::string error;
  if (!m_host.ApplyRemoteSettings(settings, error)) {
    ShowState(error);  // the user can change the port and try again
    return;
  }
  accept();
}

void CRemoteDlg::OnNewToken() {
  RenewAccessToken(CurrentProfileStore(), m_settings);
  std::string error;
  // A running page takes the new token at once; the old address stops working.
  if (!m_host.RemotePageAddresses().empty() || m_host.RemoteOscRunning()) {
    RemoteSettings running = ReadRemoteSettings(CurrentProfileStore());
    running.token = m_settings.token;
    m_host.ApplyRemoteSettings(running, error);
  }
  ShowState(error);
}

void CRemoteDlg::ShowState(const std::string& problem) {
  std::vector<std::string> addresses = m_host.RemotePageAddresses();
  const bool running = !addresses.empty();
  if (!running) addresses = PageAddressesFor(ReadLocalAddresses(), m_settings.pagePort, m_settings.token);
  const std::string address = addresses.empty() ? std::string() : addresses.front();
  if (auto* edit = qobject_cast<QLineEdit*>(Control(IDC_REMOTE_ADDRESS))) {
    edit->setText(FromUtf8(address));
    edit->setCursorPosition(0);
  }
  if (auto* qr = qobject_cast<QLabel*>(Control(IDC_REMOTE_QR))) {
    qr->setPixmap(running ? QrPixmap(address, std::min(qr->width(), qr->height())) : QPixmap());
    qr->setAlignment(Qt::AlignCenter);
  }
  std::string status = running ? "The page is on: open the address on a phone or tablet on this network, "
                                 "or scan the code."
                               : "The page is off.";
  if (m_host.RemoteOscRunning()) status += " OSC is on.";
  status += "\nPlain HTTP: whoever sees the address can press keys.";
  if (!problem.empty()) status = problem + "\n" + status;
  if (auto* label = qobject_cast<QLabel*>(Control(IDC_REMOTE_STATUS))) label->setText(FromUtf8(status));
}
