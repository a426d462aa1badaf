#include "sdp_p.h"

#include <netdb.h>
#include <sofia-sip/sdp.h>
#include <sofia-sip/su_alloc.h>

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace zq::sip {

std::string BuildSdp(const std::string& address, int port, const std::vector<int>& codecs)
{
    const bool v6 = address.find(':') != std::string::npos;
    const std::string ip = v6 ? "IP6 " : "IP4 ";
    std::string formats, maps;
    for (int pt : codecs) {
        formats += " " + std::to_string(pt);
        maps += "a=rtpmap:" + std::to_string(pt) + (pt == 0 ? " PCMU/8000\r\n" : " PCMA/8000\r\n");
    }
    const std::string te = std::to_string(kTelephoneEventPayload);
    return "v=0\r\no=- 1 1 IN " + ip + address + "\r\ns=-\r\nc=IN " + ip + address + "\r\nt=0 0\r\nm=audio "
        + std::to_string(port) + " RTP/AVP" + formats + " " + te + "\r\n" + maps + "a=rtpmap:" + te
        + " telephone-event/8000\r\na=fmtp:" + te + " 0-15\r\na=ptime:20\r\na=sendrecv\r\n";
}

std::optional<SdpAudio> ParseSdpAudio(const std::string& text)
{
    su_home_t* home = static_cast<su_home_t*>(su_home_new(sizeof(su_home_t)));
    sdp_parser_t* parser = sdp_parse(home, text.data(), isize_t(text.size()), sdp_f_config);
    std::optional<SdpAudio> result;
    if (sdp_session_t* s = sdp_session(parser)) {
        for (sdp_media_t* m = s->sdp_media; m; m = m->m_next) {
            if (m->m_type != sdp_media_audio || m->m_rejected || m->m_port == 0)
                continue;
            SdpAudio a;
            a.port = int(m->m_port);
            if (sdp_connection_t* c = sdp_media_connections(m); c && c->c_address)
                a.address = c->c_address;
            for (sdp_rtpmap_t* r = m->m_rtpmaps; r; r = r->rm_next) {
                if (!r->rm_encoding)
                    continue;
                if (r->rm_pt == 0 || r->rm_pt == 8)
                    a.g711.push_back(int(r->rm_pt));
                else if (strcasecmp(r->rm_encoding, "telephone-event") == 0 && r->rm_rate == 8000)
                    a.eventPayloadType = int(r->rm_pt);
            }
            if (!a.g711.empty() && !a.address.empty())
                result = a;
            break;
        }
    }
    sdp_parser_free(parser);
    su_home_unref(home);
    return result;
}

std::optional<RtpConfig> NegotiateAudio(const std::string& localSdp, const std::string& remoteSdp)
{
    const auto local = ParseSdpAudio(localSdp);
    const auto remote = ParseSdpAudio(remoteSdp);
    if (!local || !remote)
        return std::nullopt;
    RtpConfig c;
    auto codec = std::find_if(remote->g711.begin(), remote->g711.end(),
        [&](int pt) { return std::find(local->g711.begin(), local->g711.end(), pt) != local->g711.end(); });
    if (codec == remote->g711.end())
        return std::nullopt;
    c.payloadType = *codec;
    c.law = *codec == kPayloadPcmu ? G711Law::MuLaw : G711Law::ALaw;
    if (local->eventPayloadType >= 0 && remote->eventPayloadType >= 0) {
        c.eventPayloadType = remote->eventPayloadType;
        c.receiveEventPayloadType = local->eventPayloadType;
    }
    addrinfo hints {};
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* ai = nullptr;
    if (getaddrinfo(remote->address.c_str(), std::to_string(remote->port).c_str(), &hints, &ai) != 0 || !ai)
        return std::nullopt;
    std::memcpy(&c.remote, ai->ai_addr, ai->ai_addrlen);
    c.remoteLength = ai->ai_addrlen;
    freeaddrinfo(ai);
    return c;
}

} // namespace zq::sip
