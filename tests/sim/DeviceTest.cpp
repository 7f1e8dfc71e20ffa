#include "sim/CDemoSession.h"
#include "sim/CDemoSite.h"
#include "sim/CHttpRequestParser.h"
#include "sim/CTunnelDevice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(HttpRequestParser, ReadsAHeadAndBodyFedByteByByte)
{
    const std::string request = "POST /upload?x=1 HTTP/1.1\r\nHost: d\r\nContent-Length: 5\r\n\r\nhelloEXTRA";
    CHttpRequestParser parser;
    std::string body;
    bool sinkSet = false;
    for (char c : request) {
        std::uint8_t byte = static_cast<std::uint8_t>(c);
        if (parser.State() == CHttpRequestParser::EState::Body && !sinkSet) {
            parser.SetBodySink([&](std::span<const std::uint8_t> b) { body.append(b.begin(), b.end()); });
            sinkSet = true;
        }
        parser.Feed(std::span(&byte, 1));
    }
    EXPECT_EQ(parser.State(), CHttpRequestParser::EState::Done);
    EXPECT_EQ(parser.Method(), "POST");
    EXPECT_EQ(parser.Path(), "/upload");
    EXPECT_EQ(parser.Query(), "x=1");
    EXPECT_EQ(parser.Header("host"), "d");
    EXPECT_EQ(body, "hello");
}

struct SBadRequest {
    const char* Name;  // what is wrong
    std::string Text;  // the request
    int Status;        // answer
};

class BadRequest : public ::testing::TestWithParam<SBadRequest> {};

TEST_P(BadRequest, IsAnsweredWithItsStatus)
{
    CHttpRequestParser parser;
    const std::string& text = GetParam().Text;
    parser.Feed(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    EXPECT_EQ(parser.State(), CHttpRequestParser::EState::Error);
    EXPECT_EQ(parser.ErrorStatus(), GetParam().Status);
}

INSTANTIATE_TEST_SUITE_P(Cases, BadRequest,
    ::testing::Values(SBadRequest { "garbage", "HELLO\r\n\r\n", 400 },
        SBadRequest { "version", "GET / HTTP/2.0\r\n\r\n", 505 },
        SBadRequest { "chunked", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 411 },
        SBadRequest { "bad_length", "POST / HTTP/1.1\r\nContent-Length: 1x\r\n\r\n", 400 },
        SBadRequest { "two_lengths", "POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", 400 },
        SBadRequest { "huge_head", "GET / HTTP/1.1\r\nX: " + std::string(20000, 'a') + "\r\n\r\n", 431 },
        SBadRequest { "absolute_target", "GET http://x/ HTTP/1.1\r\n\r\n", 400 }),
    [](const auto& info) { return std::string(info.param.Name); });

// The demo device behind its tunnel, driven block by block as a caller would.
class DemoDevice : public ::testing::Test {
protected:
    CDemoSite m_site { "100" };
    std::vector<std::string> m_notes;
    CTunnelDevice m_device { [this]() { return std::make_unique<CDemoSession>(&m_site); },
        [this](const std::string& note) { m_notes.push_back(note); } };

    // Opens a connection, sends request in blocks of chunk bytes, and returns
    // the answer; fails the test if a block breaks the tunnel's rules or
    // the connection is not ended.
    std::string Exchange(const std::string& request, std::size_t chunk = 2047, bool closeAfter = false)
    {
        m_device.OnBlock(Bytes { CTunnelDevice::TAG_CONTROL });
        for (std::size_t at = 0; at < request.size(); at += chunk) {
            Bytes block { CTunnelDevice::TAG_DATA };
            block.insert(block.end(), request.begin() + static_cast<std::ptrdiff_t>(at),
                request.begin() + static_cast<std::ptrdiff_t>(std::min(request.size(), at + chunk)));
            m_device.OnBlock(block);
        }
        if (closeAfter)
            m_device.OnBlock(Bytes { CTunnelDevice::TAG_DATA });
        std::string answer;
        for (int i = 0; i < 1000000; ++i) {
            auto block = m_device.TakeBlock();
            if (!block) {
                ADD_FAILURE() << "device stalled after " << answer.size() << " bytes";
                return answer;
            }
            EXPECT_LE(block->size(), CTunnelDevice::MAX_BLOCK);
            if ((*block)[0] == CTunnelDevice::TAG_CONTROL) {
                EXPECT_EQ(block->size(), 1u);
                return answer;
            }
            EXPECT_EQ((*block)[0], CTunnelDevice::TAG_DATA);
            EXPECT_GT(block->size(), 1u);
            answer.append(block->begin() + 1, block->end());
        }
        ADD_FAILURE() << "connection never ended";
        return answer;
    }

    static std::string Body(const std::string& answer) { return answer.substr(answer.find("\r\n\r\n") + 4); }
};

TEST_F(DemoDevice, StatusPageAnswersWithContentLengthAndClose)
{
    std::string answer = Exchange("GET / HTTP/1.1\r\nHost: x\r\n\r\n", 3);
    ASSERT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer.substr(0, 80);
    EXPECT_NE(answer.find("Connection: close\r\n"), std::string::npos);
    EXPECT_NE(answer.find("Content-Length: " + std::to_string(Body(answer).size()) + "\r\n"), std::string::npos);
    EXPECT_NE(answer.find("Gerätestatus"), std::string::npos);
    EXPECT_NE(answer.find("Pumpstation Nord"), std::string::npos);
    EXPECT_FALSE(m_device.InConnection());
}

TEST_F(DemoDevice, SettingsPostChangesTheStatusPage)
{
    std::string form = "name=Br%C3%BCcke+S%C3%BCd&standort=Keller&betriebsart=Wartung&intervall=30";
    std::string answer = Exchange("POST /einstellungen HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: "
            + std::to_string(form.size()) + "\r\n\r\n" + form,
        10);
    EXPECT_NE(answer.find("Einstellungen gespeichert"), std::string::npos);
    std::string status = Exchange("GET / HTTP/1.1\r\n\r\n");
    EXPECT_NE(status.find("<td id=\"name\">Brücke Süd</td>"), std::string::npos);
    EXPECT_NE(status.find("<td id=\"betriebsart\">Wartung</td>"), std::string::npos);
    EXPECT_NE(status.find("30 Minuten"), std::string::npos);

    std::string refused = Exchange("POST /einstellungen HTTP/1.1\r\nContent-Length: 12\r\n\r\nintervall=0&");
    EXPECT_NE(refused.find("Nicht gespeichert"), std::string::npos);
    EXPECT_NE(Exchange("GET / HTTP/1.1\r\n\r\n").find("30 Minuten"), std::string::npos);
}

TEST_F(DemoDevice, HangUpPageClosesTheWindow)
{
    EXPECT_NE(Exchange("GET /trennen HTTP/1.1\r\n\r\n").find("window.close()"), std::string::npos);
}

TEST_F(DemoDevice, BlobIsGeneratedWithItsChecksum)
{
    std::string answer = Exchange("GET /blob?size=10000 HTTP/1.1\r\n\r\n");
    std::string body = Body(answer);
    ASSERT_EQ(body.size(), 10000u);
    for (std::size_t i = 0; i < body.size(); ++i)
        ASSERT_EQ(static_cast<std::uint8_t>(body[i]), i % 251) << i;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x",
        CDemoSite::Fnv1a(std::span(reinterpret_cast<const std::uint8_t*>(body.data()), body.size())));
    EXPECT_NE(answer.find(std::string("X-Checksum-Fnv1a: ") + hex), std::string::npos);
    EXPECT_NE(Exchange("GET /blob?size=abc HTTP/1.1\r\n\r\n").find("400 Bad Request"), std::string::npos);
}

TEST_F(DemoDevice, UploadIsCountedAndChecksummedAcrossBlocks)
{
    std::string body(50000, '\0');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7);
    std::uint32_t fnv = CDemoSite::Fnv1a(std::span(reinterpret_cast<const std::uint8_t*>(body.data()), body.size()));
    char expected[64];
    std::snprintf(expected, sizeof expected, "bytes=50000 fnv1a=%08x\n", fnv);
    std::string answer = Exchange("POST /upload HTTP/1.1\r\nContent-Length: 50000\r\nExpect: 100-continue\r\n\r\n" + body);
    EXPECT_EQ(Body(answer.substr(answer.find("HTTP/1.1 200"))), expected);
}

TEST_F(DemoDevice, ConnectionClosedWithoutRequestIsEnded)
{
    EXPECT_EQ(Exchange("", 1, true), "");
    // Bytes after the end belong to no connection and change nothing.
    m_device.OnBlock(Bytes { CTunnelDevice::TAG_DATA, 'x' });
    EXPECT_FALSE(m_device.TakeBlock());
    EXPECT_EQ(m_device.ConnectionsEnded(), 1u);
}

TEST_F(DemoDevice, BrowserClosingMidAnswerEndsTheConnection)
{
    m_device.OnBlock(Bytes { CTunnelDevice::TAG_CONTROL });
    std::string request = "GET /blob?size=100000 HTTP/1.1\r\n\r\n";
    Bytes block { CTunnelDevice::TAG_DATA };
    block.insert(block.end(), request.begin(), request.end());
    m_device.OnBlock(block);
    ASSERT_TRUE(m_device.TakeBlock());
    m_device.OnBlock(Bytes { CTunnelDevice::TAG_DATA });
    auto end = m_device.TakeBlock();
    ASSERT_TRUE(end);
    EXPECT_EQ(*end, Bytes { CTunnelDevice::TAG_CONTROL });
}

TEST_F(DemoDevice, ErrorsAndUnknownTags)
{
    EXPECT_NE(Exchange("GET /nichts HTTP/1.1\r\n\r\n").find("404 Not Found"), std::string::npos);
    EXPECT_NE(Exchange("DELETE / HTTP/1.1\r\n\r\n").find("405 Method Not Allowed"), std::string::npos);
    EXPECT_NE(Exchange("BROKEN\r\n\r\n").find("400 Bad Request"), std::string::npos);
    m_device.OnBlock(Bytes { 0x80, 1, 2 });
    m_device.OnBlock(Bytes {});
    EXPECT_FALSE(m_device.TakeBlock());
    EXPECT_EQ(m_notes.size() >= 2, true);
}

} // namespace
