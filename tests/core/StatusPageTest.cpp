#include "RelayFakes.h"

#include "http/COfflineResponder.h"
#include "relay/CServiceRelay.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

class StatusPageTest : public ::testing::Test {
protected:
    void SetUp() override { relay = std::make_unique<CServiceRelay>(&app, provider); }

    std::optional<std::string> Expand(const std::string& tpl)
    {
        char path[] = "/tmp/kestrin-template-XXXXXX";
        int fd = mkstemp(path);
        EXPECT_GE(fd, 0);
        ::close(fd);
        {
            std::ofstream out(path, std::ios::binary);
            out << tpl;
        }
        COfflineResponder responder(relay.get(), path);
        std::remove(path);
        return responder.BuildStatusPage();
    }

    FakeApp app;
    FakeProvider provider;
    std::unique_ptr<CServiceRelay> relay;
};

TEST_F(StatusPageTest, PlaceholderTagsMatchTheirKeywordOrALeadingPartOfIt)
{
    const std::string header = "<h3><b>Verbindung zu </b></h3>";
    struct Case {
        std::string tpl;
        std::string page;
    };
    const Case cases[] = {
        {"x<HEADER />y", "x<HEADER />" + header + "y"},
        {"<HEAD>", "<HEAD>" + header},
        {"<>", "<>" + header},
        {"<H>", "<H>" + header},
        {"<HEADER / >", "<HEADER / >"},          // longer than the keyword
        {"<INFO />", "<INFO />"},                 // expands to nothing
        {"<I>", "<I>"},
        {"<STATUS />", "<STATUS />ISDN Status: Fehler - ."},
        {"<S>", "<S>ISDN Status: Fehler - ."},
        {"<head><b>x</b></head>", "<head><b>x</b></head>"},  // case matters
        {"<a>b>", "<a>b>"},                       // a tag text holding '>' matches nothing
        {"<HTML>", "<HTML>"},
        {"<STATUS /", "<STATUS /"},              // never closed
        {std::string("ab\0<HEADER />", 13), "ab"},  // the template ends at its first NUL
        {"<<HEADER />", "<<HEADER />" + header},  // the last '<' starts the tag
    };
    for (const Case& c : cases) {
        auto page = Expand(c.tpl);
        ASSERT_TRUE(page) << c.tpl;
        EXPECT_EQ(*page, c.page) << c.tpl;
    }
}

TEST_F(StatusPageTest, StatusShowsTheStateAndTheCauseInWindows1252)
{
    relay->m_strNumber = "0123";
    struct Case {
        int state;
        uint16_t info;
        std::string text;
    };
    const Case cases[] = {
        {1, 0, "ISDN Status: Bereit"},
        {1, 0x3491, "ISDN Status: Capi: 0x3491 - ETSI x91: Teilnehmer besetzt"},
        {1, 0x3490, "ISDN Status: Capi: 0x3490 - Aufgelegt"},
        {2, 0, "ISDN Status: W\xE4hle ...  0123 - ."},
        {3, 0, "ISDN Status: Verbunden  0123 - ."},
        {1, 0x3496, "ISDN Status: Capi: 0x3496 - ETSI x96: Rufnummer wurde ge\xE4ndert"},
    };
    for (const Case& c : cases) {
        relay->m_nState = c.state;
        relay->m_wLastInfo = c.info;
        auto page = Expand("<STATUS />");
        ASSERT_TRUE(page);
        EXPECT_EQ(*page, "<STATUS />" + c.text) << c.state << " " << c.info;
    }
}

TEST_F(StatusPageTest, HeaderShowsTheDialledNumberAsText)
{
    relay->m_strNumber = "0815";
    EXPECT_EQ(*Expand("<HEADER />"), "<HEADER /><h3><b>Verbindung zu 0815</b></h3>");
    relay->m_strNumber = "<script>&";
    EXPECT_EQ(*Expand("<HEADER />"), "<HEADER /><h3><b>Verbindung zu &lt;script&gt;&amp;</b></h3>");
}

TEST_F(StatusPageTest, MissingOrEmptyTemplateGivesNoPage)
{
    EXPECT_FALSE(Expand(""));
    COfflineResponder missing(relay.get(), "/nonexistent/HttpStatus.html");
    EXPECT_FALSE(missing.BuildStatusPage());
    EXPECT_EQ(missing.BuildResponse(COfflineResponder::STATUS_OK).substr(0, 24), "HTTP/1.1 404 NOT FOUND\r\n");
}

TEST_F(StatusPageTest, ShippedTemplateCarriesThePlaceholders)
{
    COfflineResponder shipped(relay.get());  // from the current directory, next to the program
    ASSERT_TRUE(shipped.m_pszTemplate);
    auto page = shipped.BuildStatusPage();
    ASSERT_TRUE(page);
    EXPECT_NE(page->find("Verbindung zu"), std::string::npos);
    EXPECT_NE(page->find("ISDN Status: Fehler"), std::string::npos);
}

TEST_F(StatusPageTest, ErrorAnswersHaveTheirExactSizes)
{
    COfflineResponder responder(relay.get(), "/nonexistent");
    EXPECT_EQ(responder.BuildResponse(COfflineResponder::STATUS_FORBIDDEN).size(), 119u);
    const std::string serverError = responder.BuildResponse(COfflineResponder::STATUS_SERVER_ERROR);
    EXPECT_NE(serverError.find("Content-length: 60\r\n\r\n"), std::string::npos);
    EXPECT_EQ(serverError.substr(0, 36), "HTTP/1.1 500 INTERNEL_SERVER_ERROR\r\n");
}
