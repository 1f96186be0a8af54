#pragma once
// Scoped GDI objects for drawing code: every object created is deleted, every selection undone.
#include <windows.h>

namespace win32ui {

// Owns a GDI object (brush, pen, font, bitmap) and deletes it.
class GdiObject {
public:
    explicit GdiObject(HGDIOBJ object) : m_object(object) {}
    ~GdiObject() {
        if (m_object)
            ::DeleteObject(m_object);
    }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    HGDIOBJ get() const { return m_object; }

private:
    HGDIOBJ m_object;
};

// Selects an object into a device context for as long as it lives; a null object selects
// nothing.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object)
        : m_dc(dc), m_previous(object ? ::SelectObject(dc, object) : nullptr) {}
    ~Selection() {
        if (m_previous)
            ::SelectObject(m_dc, m_previous);
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

} // namespace win32ui
