#include "res/CDialogResource.h"

#include "res/CStringTable.h"

const CDialogResource::Dialog& CDialogResource::CallDestination()
{
    static const Dialog dialog = {
        CStringTable::IDD_CALL_DEST,
        "Verbinde mit ...",
        "MS Shell Dlg",
        8,
        221,
        99,
        {
            {IDC_NUMBER_LABEL, KIND_LABEL, "Verbinde mit Rufnummer:", 21, 10, 156, 8, STYLE_NONE},
            {IDC_NUMBER, KIND_EDIT, "", 21, 25, 146, 14, STYLE_BORDER | STYLE_TABSTOP},
            {IDOK, KIND_DEFAULT_BUTTON, "OK", 60, 78, 50, 14, STYLE_TABSTOP},
            {IDCANCEL, KIND_BUTTON, "Abbrechen", 135, 78, 50, 14, STYLE_TABSTOP},
            {IDC_OWN_NUMBER_LABEL, KIND_LABEL, "Eigene Rufnummer:", 22, 44, 157, 8, STYLE_NONE},
            {IDC_OWN_NUMBER, KIND_EDIT, "", 21, 56, 72, 14, STYLE_BORDER | STYLE_TABSTOP | STYLE_AUTOHSCROLL},
        },
    };
    return dialog;
}

const CDialogResource::Dialog& CDialogResource::AboutBox()
{
    static const Dialog dialog = {
        CStringTable::IDD_ABOUTBOX,
        "Info \xC3\xBC" "ber Kestrin",
        "MS Shell Dlg",
        8,
        235,
        55,
        {
            {IDC_STATIC, KIND_ICON, "", 11, 17, 20, 20, STYLE_NONE},
            {IDC_STATIC, KIND_LABEL, "Kestrin Version 1.32", 40, 10, 119, 8, STYLE_NONE},
            {IDOK, KIND_DEFAULT_BUTTON, "OK", 178, 7, 50, 14, STYLE_TABSTOP},
        },
    };
    return dialog;
}
