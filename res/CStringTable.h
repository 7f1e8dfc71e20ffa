#pragma once

#include <string>

// The program's string table: every text that the user sees, by its numeric
// id, in UTF-8. Texts that go into an HTTP page are turned into Windows-1252
// where they are written (CCodePage).
class CStringTable {
public:
    enum Id {
        IDS_OLE_INIT_FAILED = 100,
        IDS_HELP = 102,
        IDS_STATE_READY = 103,
        IDS_SOCKETS_INIT_FAILED = 104,
        IDS_STATE_NO_CAPI = 105,
        IDS_STATE_DIALLING = 106,
        IDS_STATE_CONNECTED = 107,
        IDS_STATE_FAILED = 108,
        IDS_STATE_DISCONNECTING = 109,
        IDS_DEVICE_URL = 110,
        IDS_SOCKET_PANE = 111,
        IDS_ISDN_PANE = 112,
        IDS_STATE_CONNECTING = 113,
        IDS_TEMPLATE_FILE = 114,
        IDS_STATUS_URL = 115,
        IDS_PAGE_HEADER = 116,
        IDS_PAGE_STATUS = 117,
        IDS_PAGE_STATUS_CAUSE = 118,
        IDR_MAINFRAME = 128,
        IDS_CAUSE_X82 = 137,
        IDS_CAUSE_X83 = 138,
        IDS_CAUSE_X86 = 139,
        IDS_CAUSE_X87 = 140,
        IDS_CAUSE_X91 = 141,
        IDS_CAUSE_X92 = 142,
        IDS_CAUSE_X93 = 143,
        IDS_CAUSE_X95 = 144,
        IDS_CAUSE_X96 = 145,
        IDS_CAUSE_X9A = 146,
        IDS_CAUSE_X9B = 147,
        IDS_CAUSE_X9C = 148,
        IDS_CAUSE_X9D = 149,
        IDS_CAUSE_X9E = 150,
        IDS_CAUSE_HUNG_UP = 151,
        IDS_CAUSE_XD8 = 152,
        IDS_CAPI_INFO = 153,
        IDD_ABOUTBOX = 100,
        IDD_CALL_DEST = 131,
        ID_SHOW_DEVICE_PAGE = 32771,
        ID_CALL_DISCONNECT = 32774,
        ID_CALL_CONNECT = 32776,
        AFX_IDS_APP_TITLE = 57344,
        AFX_IDS_IDLEMESSAGE = 57345,
        ID_FILE_NEW = 57600,
        ID_FILE_OPEN = 57601,
        ID_FILE_SAVE = 57603,
        ID_FILE_SAVE_AS = 57604,
        ID_FILE_PRINT = 57607,
        ID_FILE_PRINT_DIRECT = 57608,
        ID_FILE_PRINT_PREVIEW = 57609,
        ID_FILE_MRU_FILE1 = 57616,
        ID_EDIT_COPY = 57634,
        ID_EDIT_CUT = 57635,
        ID_EDIT_PASTE = 57637,
        ID_EDIT_UNDO = 57643,
        ID_APP_ABOUT = 57664,
        ID_APP_EXIT = 57665,
        ID_NEXT_PANE = 57680,
        ID_PREV_PANE = 57681,
        ID_INDICATOR_CAPS = 59137,
        ID_INDICATOR_NUM = 59138,
        ID_INDICATOR_SCRL = 59139,
        AFX_IDW_STATUS_BAR = 59393,
        AFX_IDP_PARSE_STRING_SIZE = 61716,
        AFX_IDS_UNTITLED = 61443,
    };

    // The text of an id; the empty text for an id the table does not hold.
    static const char* Get(int id);
    // printf-style formatting of a text from the table (or any format).
    static std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
};
