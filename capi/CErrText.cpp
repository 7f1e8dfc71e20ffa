#include "capi/CErrText.h"

#include "res/CStringTable.h"

std::string CErrText::GetCauseText(uint16_t reason)
{
    int id = 0;
    switch (reason) {
    case 0x0000:
        return ".";
    case 0x3301:
    case 0x3302:
    case 0x3303:
    case 0x3304:
    case 0x3481:
        return "";
    case 0x3400:
    case 0x3480:
    case 0x3490:
        id = CStringTable::IDS_CAUSE_HUNG_UP;
        break;
    case 0x3482: id = CStringTable::IDS_CAUSE_X82; break;
    case 0x3483: id = CStringTable::IDS_CAUSE_X83; break;
    case 0x3486: id = CStringTable::IDS_CAUSE_X86; break;
    case 0x3487: id = CStringTable::IDS_CAUSE_X87; break;
    case 0x3491: id = CStringTable::IDS_CAUSE_X91; break;
    case 0x3492: id = CStringTable::IDS_CAUSE_X92; break;
    case 0x3493: id = CStringTable::IDS_CAUSE_X93; break;
    case 0x3495: id = CStringTable::IDS_CAUSE_X95; break;
    case 0x3496: id = CStringTable::IDS_CAUSE_X96; break;
    case 0x349A: id = CStringTable::IDS_CAUSE_X9A; break;
    case 0x349B: id = CStringTable::IDS_CAUSE_X9B; break;
    case 0x349C: id = CStringTable::IDS_CAUSE_X9C; break;
    case 0x349D: id = CStringTable::IDS_CAUSE_X9D; break;
    case 0x349E: id = CStringTable::IDS_CAUSE_X9E; break;
    case 0x34D8: id = CStringTable::IDS_CAUSE_XD8; break;
    default:
        return CStringTable::Format(CStringTable::Get(CStringTable::IDS_CAPI_INFO), reason);
    }
    return CStringTable::Get(id);
}
