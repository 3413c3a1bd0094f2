#include "core/listview/header_arrow.hpp"

namespace packmeter {

const ArrowPicture& SortArrowPicture(TSortOption order) {
    static constexpr ArrowPicture kUp = {
        "LLLDWLLL", "LLDLLWLL", "LLDLLWLL", "LDLLLLWL",
        "LDLLLLWL", "DLLLLLLW", "WWWWWWWW", "LLLLLLLL",
    };
    static constexpr ArrowPicture kDown = {
        "LLLLLLLL", "DDDDDDDW", "DLLLLLLW", "LDLLLLWL",
        "LDLLLLWL", "LLDLLWLL", "LLDLLWLL", "LLLDWLLL",
    };
    return order == soDescending ? kDown : kUp;
}

}  // namespace packmeter
