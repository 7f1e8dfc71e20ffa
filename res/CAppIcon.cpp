#include "res/CAppIcon.h"

namespace {
// 32 x 32 pixels: a gold bird on a dark blue tile.
const char* const kIconXpm[] = {
    "32 32 3 1",
    "  c None",
    "b c #1F4E79",
    "w c #F2C14E",
    "                                ",
    "   bbbbbbbbbbbbbbbbbbbbbbbbbb   ",
    "  bbbbbbbbbbbbbbbbbbbbbbbbbbbb  ",
    " bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb ",
    " bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb ",
    " bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb ",
    " bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb ",
    " bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb ",
    " bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb ",
    " bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb ",
    " bbbbbbbbbbbbbbwwbbbbbbbbbbbbbb ",
    " bbbbbbbbbbbbbwwwwbbbbbbbbbbbbb ",
    " bbbbbbbbbbbwwwwwwwwbbbbbbbbbbb ",
    " bbbbbbbbbwwwwwwwwwwwwbbbbbbbbb ",
    " bbbbbbbwwwwwwwwwwwwwwwwbbbbbbb ",
    " bbbbbwwwwwwwbwwwwbwwwwwwwbbbbb ",
    " bbbbwwwwwwbbbbwwbbbbwwwwwwbbbb ",
    " bbbbwwwwbbbbbbwwbbbbbbwwwwbbbb ",
    " bbbbwwbbbbbbbbwwbbbbbbbbwwbbbb ",
    " bbbbwbbbbbbbbbwwbbbbbbbbbwbbbb ",
    " bbbbbbbbbbbbbbwwbbbbbbbbbbbbbb ",
    " bbbbbbbbbbbbbbwwbbbbbbbbbbbbbb ",
    " bbbbbbbbbbbbbbwwbbbbbbbbbbbbbb ",
    " bbbbbbbbbbbbbbwwbbbbbbbbbbbbbb ",
    " bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb ",
    " bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb ",
    " bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb ",
    " bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb ",
    " bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb ",
    "  bbbbbbbbbbbbbbbbbbbbbbbbbbbb  ",
    "   bbbbbbbbbbbbbbbbbbbbbbbbbb   ",
    "                                "
};
}

const char* const* CAppIcon::Xpm()
{
    return kIconXpm;
}
