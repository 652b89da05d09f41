// Owners of the GDI objects the Win32 front end makes: each deletes its object when it
// goes, and copying is deleted.
#pragma once

#include <windows.h>

#include <utility>

// A pen, brush, font or bitmap of ours (DeleteObject).
template <typename Handle>
class UniqueGdiObject {
 public:
  UniqueGdiObject() = default;
  explicit UniqueGdiObject(Handle handle) : m_handle(handle) {}
  UniqueGdiObject(const UniqueGdiObject&) = delete;
  UniqueGdiObject& operator=(const UniqueGdiObject&) = delete;
  ~UniqueGdiObject() { reset(); }

  Handle get() const { return m_handle; }
  explicit operator bool() const { return m_handle != nullptr; }
  void reset(Handle handle = nullptr) {
    if (m_handle) DeleteObject(m_handle);
    m_handle = handle;
  }

 private:
  Handle m_handle = nullptr;
};

// A memory device context of ours (DeleteDC), with the object it held before one of ours
// was selected put back first.
class MemoryDC {
 public:
  explicit MemoryDC(HDC compatibleWith) : m_dc(CreateCompatibleDC(compatibleWith)) {}
  MemoryDC(const MemoryDC&) = delete;
  MemoryDC& operator=(const MemoryDC&) = delete;
  ~MemoryDC() {
    if (!m_dc) return;
    if (m_previous) SelectObject(m_dc, m_previous);
    DeleteDC(m_dc);
  }

  HDC get() const { return m_dc; }
  // Selects an object that outlives this context.
  void Select(HGDIOBJ object) {
    HGDIOBJ previous = SelectObject(m_dc, object);
    if (!m_previous) m_previous = previous;
  }

 private:
  HDC m_dc;
  HGDIOBJ m_previous = nullptr;
};
