#include "ui/win32/DialogTemplateEx.h"

#include <commctrl.h>

#include <cstring>
#include <string>

#include "desktop/WideText_win.h"

namespace {

// Writes 16-bit units and aligns to 32 bits where the format asks for it.
class TemplateWriter {
 public:
  void Word(WORD value) { m_words.push_back(value); }
  void Dword(DWORD value) {
    Word(LOWORD(value));
    Word(HIWORD(value));
  }
  void Short(int value) { Word(static_cast<WORD>(static_cast<short>(value))); }
  void Text(const std::string& utf8) {
    for (const wchar_t c : Utf8ToWide(utf8)) Word(static_cast<WORD>(c));
    Word(0);
  }
  void TextW(const wchar_t* text) {
    for (; *text; ++text) Word(static_cast<WORD>(*text));
    Word(0);
  }
  void AlignDword() {
    if (m_words.size() % 2 != 0) Word(0);
  }
  std::size_t Size() const { return m_words.size(); }
  void Patch(std::size_t at, WORD value) { m_words[at] = value; }

  std::vector<DWORD> Finish() {
    AlignDword();
    std::vector<DWORD> out(m_words.size() / 2);
    std::memcpy(out.data(), m_words.data(), m_words.size() * sizeof(WORD));
    return out;
  }

 private:
  std::vector<WORD> m_words;
};

// The styles the resource compiler adds for each kind of control.
DWORD ControlStyle(const ControlTemplate& control) {
  DWORD style = control.style | WS_CHILD;
  switch (control.kind) {
    case ControlClass::PushButton:
      if ((style & 0xF) != BS_DEFPUSHBUTTON) style = (style & ~0xFu) | BS_PUSHBUTTON;
      break;
    case ControlClass::CheckBox:
    case ControlClass::Static:
    case ControlClass::Edit:
    case ControlClass::ComboBox:
    case ControlClass::UpDown:
      break;
  }
  return style;
}

// The predefined classes go by their atoms, the others by name.
void WriteClass(TemplateWriter& writer, ControlClass kind) {
  WORD atom = 0;
  switch (kind) {
    case ControlClass::PushButton:
    case ControlClass::CheckBox: atom = 0x0080; break;
    case ControlClass::Edit: atom = 0x0081; break;
    case ControlClass::Static: atom = 0x0082; break;
    case ControlClass::ComboBox: atom = 0x0085; break;
    case ControlClass::UpDown: break;
  }
  if (atom) {
    writer.Word(0xFFFF);
    writer.Word(atom);
  } else {
    writer.TextW(ControlClassName(kind));
  }
}

}  // namespace

const wchar_t* ControlClassName(ControlClass kind) {
  switch (kind) {
    case ControlClass::PushButton:
    case ControlClass::CheckBox: return L"Button";
    case ControlClass::Edit: return L"Edit";
    case ControlClass::Static: return L"Static";
    case ControlClass::ComboBox: return L"ComboBox";
    case ControlClass::UpDown: return UPDOWN_CLASSW;
  }
  return L"";
}

std::vector<DWORD> BuildDialogTemplateEx(const DialogTemplate& dialog) {
  TemplateWriter writer;
  writer.Word(1);       // dlgVer
  writer.Word(0xFFFF);  // signature: extended template
  writer.Dword(0);      // helpID
  writer.Dword(dialog.exStyle);
  writer.Dword(dialog.style);
  writer.Word(static_cast<WORD>(dialog.controls.size()));
  writer.Short(dialog.x);
  writer.Short(dialog.y);
  writer.Short(dialog.width);
  writer.Short(dialog.height);
  writer.Word(0);  // no menu
  writer.Word(0);  // the dialog class
  writer.Text(dialog.caption);
  if (dialog.style & DS_SETFONT) {
    writer.Word(static_cast<WORD>(dialog.fontPoints));
    writer.Word(FW_NORMAL);
    writer.Word(MAKEWORD(FALSE, DEFAULT_CHARSET));  // italic, character set
    writer.Text(dialog.fontFamily);
  }
  for (const ControlTemplate& control : dialog.controls) {
    writer.AlignDword();
    writer.Dword(0);  // helpID
    writer.Dword(0);  // exStyle
    writer.Dword(ControlStyle(control));
    writer.Short(control.x);
    writer.Short(control.y);
    writer.Short(control.width);
    writer.Short(control.height);
    writer.Dword(static_cast<DWORD>(control.id));
    WriteClass(writer, control.kind);
    writer.Text(control.text);
    writer.Word(0);  // no creation data
  }
  return writer.Finish();
}
