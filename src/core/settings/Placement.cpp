#include "core/settings/SettingsWindow.h"

namespace corvane {
namespace {

void Put(PlacementBytes& bytes, std::size_t field, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[field * 4 + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t Get(const PlacementBytes& bytes, std::size_t field) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(bytes[field * 4 + i]) << (8 * i);
    }
    return value;
}

}  // namespace

PlacementBytes EncodePlacement(const WindowPlacementRecord& r) {
    PlacementBytes bytes{};
    const std::uint32_t fields[11] = {
        r.length,
        r.flags,
        r.showCmd,
        static_cast<std::uint32_t>(r.minX),
        static_cast<std::uint32_t>(r.minY),
        static_cast<std::uint32_t>(r.maxX),
        static_cast<std::uint32_t>(r.maxY),
        static_cast<std::uint32_t>(r.normalLeft),
        static_cast<std::uint32_t>(r.normalTop),
        static_cast<std::uint32_t>(r.normalRight),
        static_cast<std::uint32_t>(r.normalBottom),
    };
    for (std::size_t i = 0; i < 11; ++i) Put(bytes, i, fields[i]);
    return bytes;
}

WindowPlacementRecord DecodePlacement(const PlacementBytes& bytes) {
    WindowPlacementRecord r;
    r.length = Get(bytes, 0);
    r.flags = Get(bytes, 1);
    r.showCmd = Get(bytes, 2);
    r.minX = static_cast<std::int32_t>(Get(bytes, 3));
    r.minY = static_cast<std::int32_t>(Get(bytes, 4));
    r.maxX = static_cast<std::int32_t>(Get(bytes, 5));
    r.maxY = static_cast<std::int32_t>(Get(bytes, 6));
    r.normalLeft = static_cast<std::int32_t>(Get(bytes, 7));
    r.normalTop = static_cast<std::int32_t>(Get(bytes, 8));
    r.normalRight = static_cast<std::int32_t>(Get(bytes, 9));
    r.normalBottom = static_cast<std::int32_t>(Get(bytes, 10));
    return r;
}

}  // namespace corvane
