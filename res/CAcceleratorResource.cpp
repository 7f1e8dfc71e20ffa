#include "res/CAcceleratorResource.h"

#include "res/CStringTable.h"

const std::vector<CAcceleratorResource::Entry>& CAcceleratorResource::MainAccelerators()
{
    using S = CStringTable;
    static const std::vector<Entry> table = {
        {"Ctrl+N", S::ID_FILE_NEW},
        {"Ctrl+O", S::ID_FILE_OPEN},
        {"Ctrl+S", S::ID_FILE_SAVE},
        {"Ctrl+P", S::ID_FILE_PRINT},
        {"Ctrl+Z", S::ID_EDIT_UNDO},
        {"Ctrl+X", S::ID_EDIT_CUT},
        {"Ctrl+C", S::ID_EDIT_COPY},
        {"Ctrl+V", S::ID_EDIT_PASTE},
        {"Alt+Backspace", S::ID_EDIT_UNDO},
        {"Shift+Del", S::ID_EDIT_CUT},
        {"Ctrl+Ins", S::ID_EDIT_COPY},
        {"Shift+Ins", S::ID_EDIT_PASTE},
        {"F6", S::ID_NEXT_PANE},
        {"Shift+F6", S::ID_PREV_PANE},
    };
    return table;
}
