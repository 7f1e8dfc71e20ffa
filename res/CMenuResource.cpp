#include "res/CMenuResource.h"

#include "res/CStringTable.h"

const std::vector<CMenuResource::Popup>& CMenuResource::MainMenu()
{
    using S = CStringTable;
    static const std::vector<Popup> menu = {
        {"&Datei",
         {
             {"&Neu\tStrg+N", S::ID_FILE_NEW},
             {"\xC3\x96" "&ffnen...\tStrg+O", S::ID_FILE_OPEN},
             {"&Speichern\tStrg+S", S::ID_FILE_SAVE},
             {"Speichern &unter...", S::ID_FILE_SAVE_AS},
             {nullptr, 0},
             {"Letzte Datei", S::ID_FILE_MRU_FILE1},
             {nullptr, 0},
             {"&Beenden", S::ID_APP_EXIT},
         }},
        {"&Bearbeiten",
         {
             {"&R\xC3\xBC" "ckg\xC3\xA4ngig\tStrg+Z", S::ID_EDIT_UNDO},
             {nullptr, 0},
             {"&Ausschneiden\tStrg+X", S::ID_EDIT_CUT},
             {"&Kopieren\tStrg+C", S::ID_EDIT_COPY},
             {"&Einf\xC3\xBCgen\tStrg+V", S::ID_EDIT_PASTE},
         }},
        {"Verbindung",
         {
             {"&Verbinde mit", S::ID_CALL_CONNECT},
             {"&Trennen", S::ID_CALL_DISCONNECT},
         }},
        {"&Hilfe",
         {
             {"&Info \xC3\xBC" "ber Kestrin...", S::ID_APP_ABOUT},
         }},
    };
    return menu;
}
