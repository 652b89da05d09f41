#include "ui/qt/PrefsWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QKeyEvent>
#include <QPushButton>
#include <QStandardItemModel>
#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "settings/BuildConfig.h"
#include "desktop/MainWindow.h"
#include "settings/DataFiles.h"
#include "settings/PrefsDlg.h"
#include "settings/ProfileStore.h"
#include "settings/RecentFileList.h"
#include "midi/MidiServices.h"
#include "midi/OutputStream.h"
#include "ui/DialogTables.h"
#include "ui/PrefsRules.h"
#include "ui/qt/DialogBuilder.h"
#include "ui/qt/UpDownCtrl.h"

using namespace dlgstyle;

namespace {

// Lists the outputs afresh in the box; each item carries its place in the list.
std::vector<OutputItem> FillOutputList(QComboBox* box, const std::vector<OutputChoice>& keep) {
  std::vector<std::string> labels;
  std::string virtualLabel;
  if (MidiServices* services = StreamLibServices()) {
    labels = OutDeviceLabels(*services);
    virtualLabel = services->VirtualOutputLabel();
  }
  std::vector<OutputItem> items = ListOutputs(std::move(labels), keep, virtualLabel);
  box->clear();
  for (std::size_t i = 0; i < items.size(); ++i) {
    box->addItem(QString::fromLocal8Bit(items[i].text));
    if (items[i].kind == OutputItemKind::None) {
      if (auto* model = qobject_cast<QStandardItemModel*>(box->model())) {
        model->item(static_cast<int>(i))->setEnabled(false);
      }
    }
  }
  return items;
}

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

}  // namespace

// The window of one showing: template 103 built on a dialog, with the control objects
// the settings holder attaches to.
class PrefsWindow final : public QDialog {
 public:
  PrefsWindow(CPrefsDlg& prefs, QWidget* owner)
      : QDialog(owner), m_prefs(prefs), m_controls(BuildDialog(this, PrefsTemplate())) {
    setObjectName(QStringLiteral("preferences"));
    m_cbMidiOut.emplace(Find<QComboBox>(IDC_MIDI_OUT));
    // Outputs come and go while the window is up: the list is taken afresh as it drops down.
    m_cbMidiOut->Widget()->installEventFilter(this);
    m_cbMidiIn.emplace(Find<QComboBox>(IDC_MIDI_IN));
    m_cbBackground.emplace(Find<QComboBox>(IDC_BACKGROUND));
    m_spinChannel.emplace(Find<CUpDownCtrl>(IDC_SPIN_CHANNEL));
    m_spinDeviceId.emplace(Find<CUpDownCtrl>(IDC_SPIN_DEVICE_ID));

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
  QWidget* Owner() { return this; }
  const std::vector<QWidget*>& Controls() const { return m_controls; }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (m_cbMidiOut && watched == m_cbMidiOut->Widget() && m_cbMidiOut->Widget()->isEnabled()) {
      const QEvent::Type type = event->type();
      if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick ||
          (type == QEvent::KeyPress && OpensDropDown(*static_cast<QKeyEvent*>(event)))) {
        RefreshOutputs();
      }
    }
    return QDialog::eventFilter(watched, event);
  }

  // Lists the outputs again, keeping the selected choice and the stored one.
  void RefreshOutputs() {
    QComboBox* box = m_cbMidiOut->Widget();
    const OutputChoice stored{m_prefs.m_nMidiOutDevice, m_prefs.m_strMidiOutDeviceName};
    OutputChoice shown = stored;
    const bool selected = ChoiceOfItem(m_outputs, box->currentIndex(), shown);
    m_outputs = FillOutputList(box, {stored, shown});
    box->setCurrentIndex(OutputItemFor(m_outputs, selected ? shown : stored));
  }

  // The output list's items, in the box's order.
  std::vector<OutputItem> m_outputs;

  bool m_bInExchange = false;
  std::optional<CComboBox> m_cbMidiOut;
  std::optional<CComboBox> m_cbMidiIn;
  std::optional<CComboBox> m_cbBackground;
  std::optional<CSpinButtonCtrl> m_spinChannel;
  std::optional<CSpinButtonCtrl> m_spinDeviceId;

 private:
  CPrefsDlg& m_prefs;
  std::vector<QWidget*> m_controls;
};

int CComboBox::AddString(const std::string& text) {
  m_box->addItem(QString::fromLocal8Bit(text));
  return m_box->count() - 1;
}

int CComboBox::GetCount() const { return m_box->count(); }

int CComboBox::GetCurSel() const { return m_box->currentIndex(); }

void CComboBox::SetCurSel(int index) { m_box->setCurrentIndex(index >= 0 && index < m_box->count() ? index : -1); }

std::string CComboBox::GetWindowText() const { return FromQt(m_box->currentText()); }

void CComboBox::SetWindowText(const std::string& text) { m_box->setEditText(ToQt(text)); }

void CSpinButtonCtrl::SetRangePacked(unsigned packed) { m_control->SetRangePacked(packed); }

FileOpenDialogFunction InstallFileOpenDialog(FileOpenDialogFunction function) {
  return std::exchange(InstalledFileOpenDialog(), std::move(function));
}

std::optional<QString> RunFileOpenDialog(const FileOpenRequest& request) {
  const FileOpenDialogFunction& installed = InstalledFileOpenDialog();
  return installed ? installed(request) : PlatformFileOpenDialog(request);
}

int CPrefsDlg::DoModal() {
  auto* owner = static_cast<QWidget*>(m_pParentWnd ? m_pParentWnd : GetMainWindow());
  PrefsWindow window(*this, owner);
  m_pWindow = &window;
  if (OnInitDialog()) FocusFirstTabStop(window.Controls());
  const int result = window.exec() == QDialog::Accepted ? QM_IDOK : QM_IDCANCEL;
  m_pRecentBackgrounds.reset();
  m_cbMidiOut = m_cbMidiIn = m_cbBackground = nullptr;
  m_spinChannel = m_spinDeviceId = nullptr;
  m_pWindow = nullptr;
  return result;
}

bool CPrefsDlg::OnInitDialog() {
  UpdateData(false);

  m_pRecentBackgrounds = std::make_unique<CRecentFileList>(0, kRecentBackgroundsSection, "File%d", 10);
  m_pRecentBackgrounds->ReadList();
  // Every slot is checked once; a removed slot's successor moves into its place.
  for (int checked = 0, i = 0; checked < m_pRecentBackgrounds->GetSize(); ++checked) {
    const std::string& path = (*m_pRecentBackgrounds)[i];
    if (!IsUsableBackground(path)) {
      m_pRecentBackgrounds->Remove(i);
    } else {
      m_cbBackground->AddString(path);
      ++i;
    }
  }

  if (MidiServices* services = StreamLibServices()) {
    std::string name;
    for (unsigned device = 0; device < kMaxListedDevices && services->InDeviceName(device, name); ++device) {
      m_cbMidiIn->AddString(name);
    }
  }
  m_pWindow->m_outputs = FillOutputList(m_cbMidiOut->Widget(), {{m_nMidiOutDevice, m_strMidiOutDeviceName}});

  m_spinChannel->SetRangePacked(kChannelRange);
  m_spinDeviceId->SetRangePacked(kDeviceIdRange);

  UpdateData(false);
  CenterDialog(m_pWindow);
  return true;
}

bool CPrefsDlg::UpdateData(bool bSaveAndValidate) {
  if (!m_pWindow) return false;
  const bool withheld = std::exchange(m_pWindow->m_bInExchange, true);
  const bool ok = DoDataExchange(bSaveAndValidate);
  m_pWindow->m_bInExchange = withheld;
  return ok;
}

namespace {

// A refused field: the framework's box, then the focus on the field with its text selected.
bool FailField(PrefsWindow& window, QLineEdit* field, const QString& text) {
  CurrentUserSeams().ShowMessageBox(window.Owner(), FromQt(text), kAppTitle, QM_MB_ICONEXCLAMATION | QM_MB_OK);
  field->setFocus(Qt::OtherFocusReason);
  field->selectAll();
  return false;
}

bool ExchangeByte(PrefsWindow& window, int id, std::uint8_t& value, bool bSave, int nMin, int nMax) {
  QLineEdit* field = window.Edit(id);
  if (!bSave) {
    field->setText(QString::number(value));
    return true;
  }
  std::uint8_t read = 0;
  if (!ReadByte(FromQt(field->text()), read)) return FailField(window, field, QString::fromLatin1(kByteRangeText));
  value = read;
  if (read < nMin || read > nMax) return FailField(window, field, ToQt(IntegerBetweenText(nMin, nMax)));
  return true;
}

void ExchangeSelection(CComboBox& list, std::int32_t& index, bool bSave) {
  if (bSave) {
    index = list.GetCurSel();
  } else {
    list.SetCurSel(index);
  }
}

// The output's number and name together. A save with no choice selected (a stored number
// past the list, or no outputs at all) keeps both as they are.
void ExchangeOutput(QComboBox* box, const std::vector<OutputItem>& items, std::int32_t& device, std::string& name,
                    bool bSave) {
  if (!bSave) {
    box->setCurrentIndex(OutputItemFor(items, {device, name}));
    return;
  }
  OutputChoice choice;
  if (!ChoiceOfItem(items, box->currentIndex(), choice)) return;
  device = choice.device;
  name = choice.name;
}

}  // namespace

bool CPrefsDlg::DoDataExchange(bool bSaveAndValidate) {
  if (!m_pWindow) return false;
  PrefsWindow& window = *m_pWindow;

  m_cbBackground = &*window.m_cbBackground;
  if (bSaveAndValidate) {
    m_strBackground = m_cbBackground->GetWindowText();
  } else {
    m_cbBackground->SetWindowText(m_strBackground);
  }
  ExchangeSelection(*window.m_cbMidiIn, m_nMidiInDevice, bSaveAndValidate);
  ExchangeOutput(window.m_cbMidiOut->Widget(), window.m_outputs, m_nMidiOutDevice, m_strMidiOutDeviceName, bSaveAndValidate);
  if (!ExchangeByte(window, IDC_MIDI_CHANNEL, m_nMidiChannel, bSaveAndValidate, 1, 16)) return false;
  if (!ExchangeByte(window, IDC_DEVICE_ID, m_nTargetDeviceId, bSaveAndValidate, 0, 99)) return false;

  m_cbMidiOut = &*window.m_cbMidiOut;
  m_cbMidiIn = &*window.m_cbMidiIn;
  m_spinChannel = &*window.m_spinChannel;
  m_spinDeviceId = &*window.m_spinDeviceId;

  auto* release = window.Find<QCheckBox>(IDC_RELEASE);
  if (bSaveAndValidate) {
    m_bReleaseOnDeactivate = release->isChecked() ? 1 : 0;
  } else {
    if (m_bReleaseOnDeactivate < 0 || m_bReleaseOnDeactivate > 2) m_bReleaseOnDeactivate = 0;
    // A two-state box: the third state, 2, shows as checked and counts as set.
    release->setChecked(m_bReleaseOnDeactivate != 0);
  }

  if (bSaveAndValidate && !m_strBackground.empty() && !IsUsableBackground(m_strBackground)) {
    CurrentUserSeams().ShowMessageBox(window.Owner(), kInvalidBackgroundText, kAppTitle, QM_MB_OK);
    release->setFocus(Qt::OtherFocusReason);
    return false;
  }
  return true;
}

void CPrefsDlg::OnOK() {
  if (!UpdateData(true)) return;
  if (m_pRecentBackgrounds) {
    // The list keeps full paths: the file where it was found, not the current folder's.
    m_pRecentBackgrounds->Add(FindDataFile(m_strBackground));
    m_pRecentBackgrounds->WriteList();
  }
  SaveSettings();
  m_pRecentBackgrounds.reset();
  if (m_pWindow) m_pWindow->accept();
}

void CPrefsDlg::OnCancel() {
  m_pRecentBackgrounds.reset();
  if (m_pWindow) m_pWindow->reject();
}

void CPrefsDlg::OnDeviceIdUpdate() {
  if (!m_pWindow) return;
  QLineEdit* field = m_pWindow->Edit(IDC_DEVICE_ID);
  const long long value = DialogItemInt(FromQt(field->text()));
  if (value < 0) {
    field->setText(QStringLiteral("0"));
  } else if (value > 99) {
    field->setText(QStringLiteral("99"));
  }
}

void CPrefsDlg::OnChannelUpdate() {
  if (!m_pWindow) return;
  QLineEdit* field = m_pWindow->Edit(IDC_MIDI_CHANNEL);
  const long long value = DialogItemInt(FromQt(field->text()));
  if (value < 1) {
    field->setText(QStringLiteral("1"));
  } else if (value > 16) {
    field->setText(QStringLiteral("16"));
  }
}

void CPrefsDlg::OnBrowseBackground() {
  if (!m_pWindow) return;
  // The directory part keeps its separator; a bare file name leaves the platform's default.
  const FileOpenRequest request{m_pWindow->Owner(),
                                QString::fromLatin1(kSelectBitmapTitle),
                                QString::fromLatin1(kBitmapFilterName),
                                QString::fromLatin1(kBitmapExtension),
                                ToQt(m_strBackground),
                                ToQt(BrowseDirectory(m_strBackground))};
  if (const std::optional<QString> chosen = RunFileOpenDialog(request)) {
    m_strBackground = FullPath(FromQt(*chosen));
  }
  if (m_cbBackground) m_cbBackground->SetWindowText(m_strBackground);
}
