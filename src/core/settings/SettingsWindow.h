#pragma once
// The parts of the main window whose state lives in the settings file but not
// in the Settings record: placement, column widths and the selected tab.
#include <array>
#include <cstddef>
#include <cstdint>

namespace corvane {

// The window-placement record as stored: eleven little-endian 32-bit fields.
struct WindowPlacementRecord {
    std::uint32_t length = 0;
    std::uint32_t flags = 0;
    std::uint32_t showCmd = 0;
    std::int32_t minX = 0;
    std::int32_t minY = 0;
    std::int32_t maxX = 0;
    std::int32_t maxY = 0;
    std::int32_t normalLeft = 0;
    std::int32_t normalTop = 0;
    std::int32_t normalRight = 0;
    std::int32_t normalBottom = 0;

    bool operator==(const WindowPlacementRecord&) const = default;
};

inline constexpr std::size_t kPlacementRecordSize = 44;
inline constexpr std::uint32_t kShowMinimized = 2;

using PlacementBytes = std::array<std::uint8_t, kPlacementRecordSize>;
PlacementBytes EncodePlacement(const WindowPlacementRecord& record);
WindowPlacementRecord DecodePlacement(const PlacementBytes& bytes);

enum class ListKind { Sessions, Resources };

class ISettingsWindow {
public:
    virtual ~ISettingsWindow() = default;
    virtual WindowPlacementRecord GetPlacement() = 0;
    virtual void SetPlacement(const WindowPlacementRecord& placement) = 0;
    // True when the program as a whole is minimised (its application window is iconic).
    virtual bool IsProgramMinimized() = 0;
    // Column widths are the control's pixels, at the window's DPI.
    virtual int ColumnDpi() = 0;
    virtual int ColumnCount(ListKind list) = 0;
    virtual int GetColumnWidth(ListKind list, int column) = 0;
    virtual void SetColumnWidth(ListKind list, int column, int width) = 0;
    virtual int GetTabIndex() = 0;
    // Selects the tab without running the tab-change handling.
    virtual void SetTabIndex(int index) = 0;
};

}  // namespace corvane
