#pragma once

#include <vector>

// The main menu (resource 128): its pop-ups and entries in order, with the
// German texts and their mnemonics. A command id of 0 is a separator.
class CMenuResource {
public:
    struct Item {
        const char* text;     // entry text with its '&' mnemonic, tab and shortcut name
        int id;               // command id; 0 for a separator
    };
    struct Popup {
        const char* title;         // pop-up title with its '&' mnemonic
        std::vector<Item> items;   // entries from top to bottom
    };

    static const std::vector<Popup>& MainMenu();
};
