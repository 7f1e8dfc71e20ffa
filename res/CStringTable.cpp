#include "res/CStringTable.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {
struct Entry {
    int id;
    const char* text;
};

const Entry kStrings[] = {
    {CStringTable::IDS_OLE_INIT_FAILED,
     "OLE-Initialisierungsfehler. Stellen Sie sicher, dass die OLE-Bibliotheken in der richtigen Version vorliegen."},
    {CStringTable::IDS_HELP, "Aufrufparameter:\n\r-d nnnn :Verbinde \xC3\xBC" "ber ISDN mit Rufnummer nnnn \n\r-? Help"},
    {CStringTable::IDS_STATE_READY, "Bereit"},
    {CStringTable::IDS_SOCKETS_INIT_FAILED, "Fehler beim Initialisieren der Windows-Sockets."},
    {CStringTable::IDS_STATE_NO_CAPI, "Fehler"},
    {CStringTable::IDS_STATE_DIALLING, "W\xC3\xA4hle ..."},
    {CStringTable::IDS_STATE_CONNECTED, "Verbunden"},
    {CStringTable::IDS_STATE_FAILED, "Verbindung fehlgeschlagen"},
    {CStringTable::IDS_STATE_DISCONNECTING, "Verbindungstrennung"},
    {CStringTable::IDS_DEVICE_URL, "http:\\\\localhost:%d"},
    {CStringTable::IDS_SOCKET_PANE, "12345678901234567890"},
    {CStringTable::IDS_ISDN_PANE, "1234567890123456789012345678901234567890"},
    {CStringTable::IDS_STATE_CONNECTING, "Verbinde ..."},
    {CStringTable::IDS_TEMPLATE_FILE, "HttpStatus.html"},
    {CStringTable::IDS_STATUS_URL, "http:\\\\localhost:%d/HttpStatus.html"},
    {CStringTable::IDS_PAGE_HEADER, "<h3><b>Verbindung zu %s</b></h3>"},
    {CStringTable::IDS_PAGE_STATUS, "ISDN Status: %s"},
    {CStringTable::IDS_PAGE_STATUS_CAUSE, "ISDN Status: %s - %s"},
    {CStringTable::IDR_MAINFRAME, "Kestrin\n\nKestrin\n\n\nKestrin.Document\nKestrin.Document"},
    {CStringTable::IDS_CAUSE_X82, "ETSI x82: Ruf kann im Netz nicht vermittelt werden!"},
    {CStringTable::IDS_CAUSE_X83, "ETSI x83: Teilnehmer nicht bekannt!"},
    {CStringTable::IDS_CAUSE_X86, "ETSI x86: ISDN Kanal wird nicht unterst\xC3\xBCtzt"},
    {CStringTable::IDS_CAUSE_X87, "ETSI x87: Ruf wurde angenommen und in vorhandenen Kanal \xC3\xBC" "bernommen."},
    {CStringTable::IDS_CAUSE_X91, "ETSI x91: Teilnehmer besetzt"},
    {CStringTable::IDS_CAUSE_X92, "ETSI x92: Teilnehmer hebt nicht ab"},
    {CStringTable::IDS_CAUSE_X93, "ETSI x93: Kein Teilnehmer meldet sich"},
    {CStringTable::IDS_CAUSE_X95, "ETSI x95: Ruf wurde abgelehnt"},
    {CStringTable::IDS_CAUSE_X96, "ETSI x96: Rufnummer wurde ge\xC3\xA4ndert"},
    {CStringTable::IDS_CAUSE_X9A, "ETSI x9A: Nonselect user clearing"},
    {CStringTable::IDS_CAUSE_X9B, "ETSI x9B: Endger\xC3\xA4t der Gegenstelle ist nicht betriebsbereit"},
    {CStringTable::IDS_CAUSE_X9C, "ETSI x9C: Nummernformat falsch"},
    {CStringTable::IDS_CAUSE_X9D, "ETSI x9D: Leistungsmerkmal wird abgelehnt"},
    {CStringTable::IDS_CAUSE_X9E, "ETSI x9E: Antwort auf Status Enquiry"},
    {CStringTable::IDS_CAUSE_HUNG_UP, "Aufgelegt"},
    {CStringTable::IDS_CAUSE_XD8, "ETSI xD8: Gegenstelle ist nicht freigeschaltet"},
    {CStringTable::IDS_CAPI_INFO, "Capi: 0x%04x"},
    {CStringTable::ID_CALL_DISCONNECT, "Trennt die aktuelle Verbindung.\nTrennen"},
    {CStringTable::ID_CALL_CONNECT, "Stellt eine Serviceverbindung her.\nVerbinden"},
    {CStringTable::AFX_IDS_APP_TITLE, "Kestrin"},
    {CStringTable::ID_FILE_PRINT, "Druckt das aktive Dokument.\nDrucken"},
    {CStringTable::ID_FILE_PRINT_PREVIEW, "Zeigt ganze Seiten an.\nSeitenansicht"},
    // The framework's own prompts and indicator texts.
    {CStringTable::AFX_IDS_IDLEMESSAGE, "Bereit"},
    {CStringTable::AFX_IDS_UNTITLED, "Unbenannt"},
    {CStringTable::ID_FILE_NEW, "Erstellt ein neues Dokument.\nNeu"},
    {CStringTable::ID_FILE_OPEN, "\xC3\x96" "ffnet ein bestehendes Dokument.\n\xC3\x96" "ffnen"},
    {CStringTable::ID_FILE_SAVE, "Speichert das aktive Dokument.\nSpeichern"},
    {CStringTable::ID_FILE_SAVE_AS, "Speichert das aktive Dokument unter einem neuen Namen.\nSpeichern unter"},
    {CStringTable::ID_FILE_PRINT_DIRECT, "Druckt das aktive Dokument.\nDrucken"},
    {CStringTable::ID_FILE_MRU_FILE1, "\xC3\x96" "ffnet dieses Dokument."},
    {CStringTable::ID_EDIT_COPY, "Kopiert die Markierung in die Zwischenablage.\nKopieren"},
    {CStringTable::ID_EDIT_CUT, "Schneidet die Markierung aus und kopiert sie in die Zwischenablage.\nAusschneiden"},
    {CStringTable::ID_EDIT_PASTE, "F\xC3\xBCgt den Inhalt der Zwischenablage ein.\nEinf\xC3\xBCgen"},
    {CStringTable::ID_EDIT_UNDO, "Macht die letzte Aktion r\xC3\xBC" "ckg\xC3\xA4ngig.\nR\xC3\xBC" "ckg\xC3\xA4ngig"},
    {CStringTable::ID_APP_ABOUT, "Zeigt Programminformationen, Versionsnummer und Copyright an.\nInfo"},
    {CStringTable::ID_APP_EXIT, "Beendet die Anwendung.\nBeenden"},
    {CStringTable::ID_NEXT_PANE, "Wechselt zum n\xC3\xA4" "chsten Fensterausschnitt.\nN\xC3\xA4" "chster Ausschnitt"},
    {CStringTable::ID_PREV_PANE, "Wechselt zum vorherigen Fensterausschnitt.\nVorheriger Ausschnitt"},
    {CStringTable::ID_INDICATOR_CAPS, "CAP"},
    {CStringTable::ID_INDICATOR_NUM, "NUM"},
    {CStringTable::ID_INDICATOR_SCRL, "SCRL"},
    {CStringTable::AFX_IDP_PARSE_STRING_SIZE, "Enter no more than %1 characters."},
};
}

const char* CStringTable::Get(int id)
{
    for (const Entry& e : kStrings)
        if (e.id == id)
            return e.text;
    return "";
}

std::string CStringTable::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), format, args);
        out.assign(buf.data(), static_cast<size_t>(n));
    }
    va_end(args);
    return out;
}
