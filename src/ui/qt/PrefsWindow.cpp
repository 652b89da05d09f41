#include "ui/qt/PrefsWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QKeyEvent>
#include <QPushButton>
#include <QStandardItemModel>
#include <utility>
#include <vector>

#include "desktop/MainWindow.h"
#include "settings/PrefsDlg.h"
#include "settings/RecentFileList.h"
#include "ui/DialogTables.h"
#include "ui/PrefsRules.h"
#include "ui/qt/DialogBuilder.h"
#include "ui/qt/UpDownCtrl.h"

namespace {

// Whether a key press on a closed drop-down list opens it.
bool OpensDropDown(const QKeyEvent& key) {
  const bool alt = key.modifiers() & Qt::AltModifier;
  switch (key.key()) {
    case Qt::Key_F4: return key.modifiers() == Qt::NoModifier;
    case Qt::Key_Space: return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp: return alt;
    default: return false;
  }
}

FileOpenDialogFunction& InstalledFileOpenDialog() {
  static FileOpenDialogFunction installed;
  return installed;
}

std::optional<QString> PlatformFileOpenDialog(const FileOpenRequest& request) {
  QFileDialog dialog(request.owner, request.title, request.initialDirectory, request.filter);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(request.defaultExtension);
  if (!request.initialFile.isEmpty()) dialog.selectFile(request.initialFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front();
}

QString ToQt(const std::string& path) { return QString::fromLocal8Bit(path); }
std::string FromQt(const QString& path) { return path.toLocal8Bit().toStdString(); }

// The window of one showing: template 103 built on a dialog, with the control objects
// the settings holder attaches to.
class QtPrefsWindow final : public QDialog, public PrefsWindow {
 public:
  QtPrefsWindow(CPrefsDlg& prefs, QWidget* owner)
      : QDialog(owner),
        m_prefs(prefs),
        m_controls(BuildDialog(this, PrefsTemplate())),
        m_cbMidiOut(Find<QComboBox>(IDC_MIDI_OUT)),
        m_cbMidiIn(Find<QComboBox>(IDC_MIDI_IN)),
        m_cbBackground(Find<QComboBox>(IDC_BACKGROUND)),
        m_spinChannel(Find<CUpDownCtrl>(IDC_SPIN_CHANNEL)),
        m_spinDeviceId(Find<CUpDownCtrl>(IDC_SPIN_DEVICE_ID)) {
    setObjectName(QStringLiteral("preferences"));
    // Outputs come and go while the window is up: the list is taken afresh as it drops down.
    m_cbMidiOut.Widget()->installEventFilter(this);

    // The framework withholds control notifications while the window's own exchange runs.
    connect(Edit(IDC_MIDI_CHANNEL), &QLineEdit::textChanged, this, [this, &prefs] {
      if (!m_bInExchange) prefs.OnChannelUpdate();
    });
    connect(Edit(IDC_DEVICE_ID), &QLineEdit::textChanged, this, [this, &prefs] {
      if (!m_bInExchange) prefs.OnDeviceIdUpdate();
    });
    connect(Find<QPushButton>(IDC_BROWSE), &QPushButton::clicked, this, [&prefs] { prefs.OnBrowseBackground(); });
    connect(Find<QPushButton>(QM_IDOK), &QPushButton::clicked, this, [&prefs] { prefs.OnOK(); });
    connect(Find<QPushButton>(QM_IDCANCEL), &QPushButton::clicked, this, [&prefs] { prefs.OnCancel(); });
  }

  template <typename T>
  T* Find(int id) const {
    return findChild<T*>(QStringLiteral("control%1").arg(id), Qt::FindDirectChildrenOnly);
  }
  QLineEdit* Edit(int id) const { return Find<QLineEdit>(id); }
  const std::vector<QWidget*>& Controls() const { return m_controls; }

  CComboBox& MidiOut() override { return m_cbMidiOut; }
  CComboBox& MidiIn() override { return m_cbMidiIn; }
  CComboBox& Background() override { return m_cbBackground; }
  CSpinButtonCtrl& ChannelSpin() override { return m_spinChannel; }
  CSpinButtonCtrl& DeviceIdSpin() override { return m_spinDeviceId; }

  std::string GetItemText(int id) const override { return FromQt(Edit(id)->text()); }
  void SetItemText(int id, const std::string& text) override { Edit(id)->setText(ToQt(text)); }
  bool IsChecked(int id) const override { return Find<QCheckBox>(id)->isChecked(); }
  void SetChecked(int id, bool checked) override { Find<QCheckBox>(id)->setChecked(checked); }
  void FocusItem(int id, bool selectText) override {
    QWidget* control = Find<QWidget>(id);
    control->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(control); edit && selectText) edit->selectAll();
  }
  OwnerWindow Owner() override { return static_cast<QWidget*>(this); }
  void CenterWindow() override { CenterDialog(this); }
  void EndDialog(int result) override {
    if (result == QM_IDOK) {
      accept();
    } else {
      reject();
    }
  }
  std::optional<std::string> BrowseForBitmap(const std::string& initialFile,
                                             const std::string& initialDirectory) override {
    const FileOpenRequest request{this,
                                  QString::fromLatin1(kSelectBitmapTitle),
                                  QString::fromLatin1(kBitmapFilterName),
                                  QString::fromLatin1(kBitmapExtension),
                                  ToQt(initialFile),
                                  ToQt(initialDirectory)};
    const std::optional<QString> chosen = RunFileOpenDialog(request);
    if (!chosen) return std::nullopt;
    return FromQt(*chosen);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == m_cbMidiOut.Widget() && m_cbMidiOut.Widget()->isEnabled()) {
      const QEvent::Type type = event->type();
      if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick ||
          (type == QEvent::KeyPress && OpensDropDown(*static_cast<QKeyEvent*>(event)))) {
        RefreshOutputs({m_prefs.m_nMidiOutDevice, m_prefs.m_strMidiOutDeviceName});
      }
    }
    return QDialog::eventFilter(watched, event);
  }

 private:
  CPrefsDlg& m_prefs;
  std::vector<QWidget*> m_controls;
  QtComboBox m_cbMidiOut;
  QtComboBox m_cbMidiIn;
  QtComboBox m_cbBackground;
  QtSpinButtonCtrl m_spinChannel;
  QtSpinButtonCtrl m_spinDeviceId;
};

}  // namespace

int QtComboBox::AddString(const std::string& text) {
  m_box->addItem(QString::fromLocal8Bit(text));
  return m_box->count() - 1;
}

void QtComboBox::DisableItem(int index) {
  if (auto* model = qobject_cast<QStandardItemModel*>(m_box->model())) {
    if (QStandardItem* item = model->item(index)) item->setEnabled(false);
  }
}

void QtComboBox::ResetContent() { m_box->clear(); }

int QtComboBox::GetCount() const { return m_box->count(); }

int QtComboBox::GetCurSel() const { return m_box->currentIndex(); }

void QtComboBox::SetCurSel(int index) { m_box->setCurrentIndex(index >= 0 && index < m_box->count() ? index : -1); }

std::string QtComboBox::GetWindowText() const { return FromQt(m_box->currentText()); }

void QtComboBox::SetWindowText(const std::string& text) { m_box->setEditText(ToQt(text)); }

void QtSpinButtonCtrl::SetRangePacked(unsigned packed) { m_control->SetRangePacked(packed); }

FileOpenDialogFunction InstallFileOpenDialog(FileOpenDialogFunction function) {
  return std::exchange(InstalledFileOpenDialog(), std::move(function));
}

std::optional<QString> RunFileOpenDialog(const FileOpenRequest& request) {
  const FileOpenDialogFunction& installed = InstalledFileOpenDialog();
  return installed ? installed(request) : PlatformFileOpenDialog(request);
}

int CPrefsDlg::DoModal() {
  auto* owner = static_cast<QWidget*>(m_pParentWnd ? m_pParentWnd : GetMainWindow());
  QtPrefsWindow window(*this, owner);
  m_pWindow = &window;
  if (OnInitDialog()) FocusFirstTabStop(window.Controls());
  const int result = window.exec() == QDialog::Accepted ? QM_IDOK : QM_IDCANCEL;
  m_pRecentBackgrounds.reset();
  m_cbMidiOut = m_cbMidiIn = m_cbBackground = nullptr;
  m_spinChannel = m_spinDeviceId = nullptr;
  m_pWindow = nullptr;
  return result;
}
