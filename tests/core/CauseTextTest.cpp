#include "capi/CErrText.h"

#include <gtest/gtest.h>

TEST(CauseText, WholeTable)
{
    struct Case {
        uint16_t reason;
        const char* text;
    };
    const Case cases[] = {
        {0x0000, "."},
        {0x3301, ""},
        {0x3302, ""},
        {0x3303, ""},
        {0x3304, ""},
        {0x3400, "Aufgelegt"},
        {0x3480, "Aufgelegt"},
        {0x3481, ""},
        {0x3482, "ETSI x82: Ruf kann im Netz nicht vermittelt werden!"},
        {0x3483, "ETSI x83: Teilnehmer nicht bekannt!"},
        {0x3486, "ETSI x86: ISDN Kanal wird nicht unterst\xC3\xBCtzt"},
        {0x3487, "ETSI x87: Ruf wurde angenommen und in vorhandenen Kanal \xC3\xBC" "bernommen."},
        {0x3490, "Aufgelegt"},
        {0x3491, "ETSI x91: Teilnehmer besetzt"},
        {0x3492, "ETSI x92: Teilnehmer hebt nicht ab"},
        {0x3493, "ETSI x93: Kein Teilnehmer meldet sich"},
        {0x3495, "ETSI x95: Ruf wurde abgelehnt"},
        {0x3496, "ETSI x96: Rufnummer wurde ge\xC3\xA4ndert"},
        {0x349A, "ETSI x9A: Nonselect user clearing"},
        {0x349B, "ETSI x9B: Endger\xC3\xA4t der Gegenstelle ist nicht betriebsbereit"},
        {0x349C, "ETSI x9C: Nummernformat falsch"},
        {0x349D, "ETSI x9D: Leistungsmerkmal wird abgelehnt"},
        {0x349E, "ETSI x9E: Antwort auf Status Enquiry"},
        {0x34D8, "ETSI xD8: Gegenstelle ist nicht freigeschaltet"},
        // Everything else shows the raw value.
        {0x3484, "Capi: 0x3484"},
        {0x349F, "Capi: 0x349f"},
        {0x34D7, "Capi: 0x34d7"},
        {0x2001, "Capi: 0x2001"},
        {0x1109, "Capi: 0x1109"},
        {0x0001, "Capi: 0x0001"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CErrText::GetCauseText(c.reason), c.text) << std::hex << c.reason;
}
