#include "sdp_p.h"
#include "sipaccounts.h"
#include "sipuri_p.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

using namespace zq::sip;

TEST(SipUri, NumbersBecomeAddressesInTheAccountsDomain)
{
    std::string error;
    EXPECT_EQ(RequestUriFor("+44 (20) 7946-0123", "sip:alice@example.org", &error),
        "sip:+442079460123@example.org");
    EXPECT_EQ(RequestUriFor("*21#", "sip:alice@[::1]:5070;transport=tcp", &error), "sip:*21%23@[::1]:5070");
    EXPECT_EQ(RequestUriFor("T0,4711", "sip:alice@example.org", &error), "sip:04711@example.org");
    EXPECT_EQ(RequestUriFor("sip:bob@example.net;transport=tcp", "sip:alice@example.org", &error),
        "sip:bob@example.net;transport=tcp");
    for (const char* bad : { "", "+", "T,", "bob@example.net", "555-CALL", "tel:+1555" }) {
        error.clear();
        EXPECT_FALSE(RequestUriFor(bad, "sip:alice@example.org", &error)) << bad;
        EXPECT_NE(error.find("neither a telephone number nor a SIP address"), std::string::npos) << bad;
    }
}

TEST(SipUri, ReadsAddressesOfRecord)
{
    SipUri u;
    ASSERT_TRUE(ParseSipUri("SIPS:carol@pbx.example.com:5061;transport=tls", &u));
    EXPECT_TRUE(u.secure);
    EXPECT_EQ(u.user, "carol");
    EXPECT_EQ(u.host, "pbx.example.com");
    EXPECT_EQ(u.port, "5061");
    EXPECT_FALSE(ParseSipUri("sip:carol@", &u));
    EXPECT_FALSE(ParseSipUri("sip:carol@host:50x", &u));
    EXPECT_FALSE(ParseSipUri("sip:carol@[::1", &u));
    EXPECT_EQ(CodecList("pcma, PCMU,G729,pcma"), (std::vector<int> { 8, 0 }));
}

TEST(Sdp, AnswerSettingsComeFromBothDescriptions)
{
    const std::string local = BuildSdp("127.0.0.1", 40000, { 8, 0 });
    // The peer prefers mu-law and sends telephone-event on payload type 96.
    const std::string remote = "v=0\r\no=- 5 5 IN IP4 127.0.0.2\r\ns=-\r\nc=IN IP4 127.0.0.2\r\nt=0 0\r\n"
                               "m=audio 6000 RTP/AVP 0 96 8\r\na=rtpmap:96 telephone-event/8000\r\n";
    const auto c = NegotiateAudio(local, remote);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->payloadType, 0);
    EXPECT_EQ(c->law, G711Law::MuLaw);
    EXPECT_EQ(c->eventPayloadType, 96);
    EXPECT_EQ(c->receiveEventPayloadType, kTelephoneEventPayload);
    const auto* a = reinterpret_cast<const sockaddr_in*>(&c->remote);
    EXPECT_EQ(ntohs(a->sin_port), 6000);
    EXPECT_EQ(ntohl(a->sin_addr.s_addr), 0x7f000002u);

    const auto own = ParseSdpAudio(local);
    ASSERT_TRUE(own);
    EXPECT_EQ(own->g711, (std::vector<int> { 8, 0 }));
    EXPECT_EQ(own->port, 40000);

    // No common codec, no audio, a refused stream: nothing to set up.
    EXPECT_FALSE(NegotiateAudio(BuildSdp("127.0.0.1", 40000, { 8 }),
        "v=0\r\no=- 5 5 IN IP4 127.0.0.2\r\ns=-\r\nc=IN IP4 127.0.0.2\r\nt=0 0\r\nm=audio 6000 RTP/AVP "
        "0\r\n"));
    EXPECT_FALSE(ParseSdpAudio("v=0\r\no=- 5 5 IN IP4 127.0.0.2\r\ns=-\r\nt=0 0\r\n"));
    EXPECT_FALSE(ParseSdpAudio(
        "v=0\r\no=- 5 5 IN IP4 127.0.0.2\r\ns=-\r\nc=IN IP4 127.0.0.2\r\nt=0 0\r\nm=audio 0 RTP/AVP 0\r\n"));
    // Without telephone-event on one side, digits are not sent as events.
    const auto plain = NegotiateAudio(local,
        "v=0\r\no=- 5 5 IN IP4 127.0.0.2\r\ns=-\r\nc=IN IP4 127.0.0.2\r\nt=0 0\r\nm=audio 6000 RTP/AVP "
        "8\r\n");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->eventPayloadType, -1);
    EXPECT_EQ(plain->law, G711Law::ALaw);
}

TEST(SipAccounts, KeepThePasswordOwnerOnlyAndOutOfTheRegistry)
{
    char dir[] = "/tmp/zqsipacctXXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    setenv("ZQ_REGISTRY_FILE", (std::string(dir) + "/registry.json").c_str(), 1);
    SipAccountSettings s;
    s.name = "Office";
    s.address = "sip:alice@pbx.example.org";
    s.displayName = "Alice";
    s.registrar = "sip:pbx.example.org";
    s.rtpPortMin = 20000;
    s.rtpPortMax = 20100;
    ASSERT_EQ(CheckSipAccount(s), "");
    std::string error;
    ASSERT_TRUE(SaveSipAccount(s, &error)) << error;
    ASSERT_TRUE(SetSipPassword("Office", "s3cret: with spaces", &error)) << error;
    ASSERT_TRUE(SetSipPassword("Other", "x", &error)) << error;

    SipAccountSettings back;
    ASSERT_TRUE(LoadSipAccount("Office", &back));
    EXPECT_EQ(back.address, s.address);
    EXPECT_EQ(back.displayName, "Alice");
    EXPECT_EQ(back.rtpPortMax, 20100);
    EXPECT_EQ(SipPassword("Office"), "s3cret: with spaces");
    EXPECT_EQ(SipAccountNames(), std::vector<std::string> { "Office" });

    struct stat st { };
    ASSERT_EQ(stat(SipSecretsFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::ifstream reg(std::string(dir) + "/registry.json");
    const std::string content((std::istreambuf_iterator<char>(reg)), {});
    EXPECT_EQ(content.find("s3cret"), std::string::npos);

    ASSERT_TRUE(RemoveSipAccount("Office", &error)) << error;
    EXPECT_FALSE(LoadSipAccount("Office", &back));
    EXPECT_EQ(SipPassword("Office"), "");
    EXPECT_EQ(SipPassword("Other"), "x");
    EXPECT_FALSE(RemoveSipAccount("Office", &error));

    s.address = "alice@pbx";
    EXPECT_NE(CheckSipAccount(s), "");
    // A registrar or proxy that is no SIP address would only fail later,
    // inside the stack, without a word to the user.
    s.address = "sip:alice@pbx";
    s.registrar = "pbx:5060";
    EXPECT_EQ(CheckSipAccount(s), "the registrar \"pbx:5060\" is not of the form sip:host[:port]");
    s.registrar = "sip:pbx";
    s.outboundProxy = "sbc.example.org";
    EXPECT_NE(CheckSipAccount(s).find("outbound proxy"), std::string::npos);
    s.outboundProxy = "sips:sbc.example.org:5061";
    EXPECT_EQ(CheckSipAccount(s), "");
    unsetenv("ZQ_REGISTRY_FILE");
}
