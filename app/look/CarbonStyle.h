#pragma once
// The "Carbon" style: the program's dark look, a palette stored as a raw-data resource.
//
// The stored text holds one colour per line, name=#RRGGBB; blank lines and lines starting
// with ";" are ignored. Every colour below must be given exactly once and nothing else may
// appear, so that a damaged resource is reported instead of half applied. The window then
// paints itself and its controls with these colours; when the style cannot be read it says
// why in a message box and keeps the platform's default look.

#include <cstdint>
#include <string>
#include <vector>

#include "Exceptions.h"

// The style could not be read or applied.
class EStyleError : public Exception {
public:
    using Exception::Exception;
};

// Colours as 0xRRGGBB.
struct TCarbonStyle {
    std::uint32_t Window = 0;         // window and page background
    std::uint32_t WindowText = 0;     // labels, group boxes, check boxes
    std::uint32_t Control = 0;        // tabs, toolbar, track bar ground
    std::uint32_t ControlText = 0;
    std::uint32_t GridBack = 0;       // the control box grid
    std::uint32_t GridText = 0;
    std::uint32_t GridLine = 0;
    std::uint32_t Selection = 0;      // the grid's selected row
    std::uint32_t SelectionText = 0;
    std::uint32_t StatusBar = 0;
    std::uint32_t StatusText = 0;
    std::uint32_t Accent = 0;         // the active tab's marker

    bool operator==(const TCarbonStyle&) const = default;
};

// The name of the resource that holds the style.
inline constexpr const wchar_t* CarbonStyleResource = L"CARBON";

// Reads the stored text (ASCII/UTF-8 bytes). EStyleError naming the line on any fault.
TCarbonStyle ParseCarbonStyle(const std::vector<std::uint8_t>& bytes);
