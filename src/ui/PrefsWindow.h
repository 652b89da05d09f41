// The Preferences window of one showing, as the settings holder's dialog methods use it,
// whatever the toolkit: its controls by their template IDs, the combo boxes and up-down
// controls the holder attaches to, the owner for its boxes, and the file-open dialog. Each
// front end implements it over its toolkit; the holder's dialog methods themselves
// (ui/PrefsDialog.cpp) are the same for all. Texts are UTF-8. User-interface thread only.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "desktop/UserSeams.h"
#include "ui/PrefsRules.h"

// A list box with an optional edit field, addressed by item position.
class CComboBox {
 public:
  CComboBox() = default;
  CComboBox(const CComboBox&) = delete;
  CComboBox& operator=(const CComboBox&) = delete;
  virtual ~CComboBox() = default;

  // Appends an item (the list is unsorted); returns its position.
  virtual int AddString(const std::string& text) = 0;
  // Greys an item out where the toolkit can; it stays in the list either way.
  virtual void DisableItem(int index) = 0;
  virtual void ResetContent() = 0;
  virtual int GetCount() const = 0;
  // The selected position, -1 for none.
  virtual int GetCurSel() const = 0;
  // Selects a position; anything that is not a list position clears the selection.
  virtual void SetCurSel(int index) = 0;
  // The edit field's text.
  virtual std::string GetWindowText() const = 0;
  virtual void SetWindowText(const std::string& text) = 0;
};

// An up-down control.
class CSpinButtonCtrl {
 public:
  CSpinButtonCtrl() = default;
  CSpinButtonCtrl(const CSpinButtonCtrl&) = delete;
  CSpinButtonCtrl& operator=(const CSpinButtonCtrl&) = delete;
  virtual ~CSpinButtonCtrl() = default;

  // The range in the platform's packed form: upper limit in the low 16 bits, lower limit
  // in the high 16 bits.
  virtual void SetRangePacked(unsigned packed) = 0;
};

class PrefsWindow {
 public:
  PrefsWindow() = default;
  PrefsWindow(const PrefsWindow&) = delete;
  PrefsWindow& operator=(const PrefsWindow&) = delete;
  virtual ~PrefsWindow() = default;

  virtual CComboBox& MidiOut() = 0;     // 1004
  virtual CComboBox& MidiIn() = 0;      // 1003
  virtual CComboBox& Background() = 0;  // 1017
  virtual CSpinButtonCtrl& ChannelSpin() = 0;   // 1002
  virtual CSpinButtonCtrl& DeviceIdSpin() = 0;  // 1006

  // An edit field's text, and setting it as the user would (the live clamps see it).
  virtual std::string GetItemText(int id) const = 0;
  virtual void SetItemText(int id, const std::string& text) = 0;
  virtual bool IsChecked(int id) const = 0;
  virtual void SetChecked(int id, bool checked) = 0;
  // Gives a control the focus, with all its text selected when asked.
  virtual void FocusItem(int id, bool selectText) = 0;
  // The owner of the window's boxes: the window itself.
  virtual OwnerWindow Owner() = 0;
  // Centres the window on its owner, or on the screen when it has none.
  virtual void CenterWindow() = 0;
  // Closes the window with QM_IDOK or QM_IDCANCEL.
  virtual void EndDialog(int result) = 0;
  // The file-open dialog for a bitmap, seeded with a file name and a folder (empty: the
  // platform's default): the chosen path, or nothing when the user cancelled.
  virtual std::optional<std::string> BrowseForBitmap(const std::string& initialFile,
                                                     const std::string& initialDirectory) = 0;

  // Lists the outputs as they are now (the device services' labels), keeping the choices
  // given listed.
  void FillOutputs(const std::vector<OutputChoice>& keep);
  // Lists them again as the list drops down, keeping the selected choice and the stored
  // one.
  void RefreshOutputs(const OutputChoice& stored);
  // The output list's items, in the combo box's order.
  const std::vector<OutputItem>& Outputs() const { return m_outputs; }

  // Set while the window's own data exchange runs: the live clamps keep still then.
  bool m_bInExchange = false;

 private:
  std::vector<OutputItem> m_outputs;
};
