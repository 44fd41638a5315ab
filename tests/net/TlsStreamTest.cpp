// The TLS stream against the servers of tls_peer.py, under Wine with the tests' CA trusted in
// the suite's own prefix: what is refused, with which text, and that nothing of ours reached a
// refused server. The download's box carries that text (the fetcher's redirections show it).
#include <algorithm>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "net/Socket.h"
#include "net/TlsStream.h"
#include "tests/support/WinTestSupport.h"

namespace {

using net::TlsFailure;

const auto* const g_winsock = ::testing::AddGlobalTestEnvironment(new testing_support::WinsockEnvironment);

constexpr std::uint32_t kWait = 30000;
const std::string kNotVerified = "No se pudo verificar el certificado del servidor: ";
const std::string kWeak = "El certificado del servidor usa un algoritmo inseguro (firma MD5 o SHA-1, o clave RSA de "
                          "menos de 2048 bits) (error 0x80090008).";
const std::string kWrongName = kNotVerified + "no corresponde al nombre del servidor (error 0x800B010F).";

bool Connect(net::CSocket& socket, const std::string& server)
{
    const char* port = std::getenv(("NOTELIA_TLS_" + server).c_str());
    net::Address address;
    return port && net::Resolve("127.0.0.1", static_cast<std::uint16_t>(std::atoi(port)), address) &&
           socket.OpenStream() && socket.Connect(address);
}

// What `server` saw since the last ask, once its connections have ended.
std::string PeerLog(const std::string& server)
{
    net::CSocket socket;
    std::string log;
    if (!Connect(socket, "LOG") || !socket.Send((server + "\n").data(), server.size() + 1)) return "no log";
    char buffer[1024];
    for (int n; (n = socket.Receive(buffer, sizeof buffer)) > 0;) log.append(buffer, static_cast<std::size_t>(n));
    return log;
}

} // namespace

// Each server, as `host`, refused with its failure and text (the user reads it) and given
// nothing of ours, or accepted and answered.
TEST(TlsStream, WhatIsRefusedAndWhatIsAccepted)
{
    const std::string kOld = "No se pudo establecer una conexión segura con el servidor";
    const struct {
        const char* server;
        const char* host;
        TlsFailure failure;
        std::string text;  // for an accepted server, its answer
    } rows[] = {
        {"UNTRUSTED", "localhost", TlsFailure::Untrusted,
         kNotVerified + "no lo emitió una autoridad de confianza (error 0x800B010A)."},
        {"NOCA", "localhost", TlsFailure::Certificate,
         kNotVerified + "lo emitió un certificado que no es de una autoridad (error 0x80096019)."},
        {"CONSTRAINED", "localhost", TlsFailure::Certificate,
         kNotVerified + "su autoridad no puede emitirlo para ese nombre (error 0x800B0114)."},
        {"REVOKED", "localhost", TlsFailure::Revoked,
         "El certificado del servidor fue revocado por quien lo emitió (error 0x80092010)."},
        {"CLIENTONLY", "localhost", TlsFailure::Certificate,
         kNotVerified + "no sirve para identificar a un servidor (error 0x800B0110)."},
        {"MD5", "localhost", TlsFailure::Weak, kWeak},
        {"SHA1", "127.0.0.1", TlsFailure::Weak, kWeak},
        {"SHA1CA", "localhost", TlsFailure::Weak, kWeak},
        {"RSA1024", "localhost", TlsFailure::Weak, kWeak},
        // An address is compared with the certificate's address entries, byte for byte, and
        // never sent as the server's name.
        {"WILDIP", "127.0.0.1", TlsFailure::WrongName, kWrongName},
        {"IPONLY", "localhost", TlsFailure::WrongName, kWrongName},
        {"GOOD", "127.0.0.2", TlsFailure::WrongName, kWrongName},
        {"GOOD", "::2", TlsFailure::WrongName, kWrongName},
        {"GOOD", "localhost", TlsFailure::None, "sni=localhost\n"},
        {"GOOD", "127.0.0.1", TlsFailure::None, "sni=-\n"},
        {"GOOD", "[::1]", TlsFailure::None, "sni=-\n"},
        {"IPONLY", "127.0.0.1", TlsFailure::None, "sni=-\n"},
        // Refused inside the handshake: the server never finishes its own.
        {"TLS10", "localhost", TlsFailure::Handshake, kOld + " (error 0x80090304)."},
        // Not a time-out: the server never closes.
        {"NOTTLS", "localhost", TlsFailure::NotTls, "El servidor no respondió con un canal seguro (error 0x80090326)."},
        // A certificate message of about 75 KiB.
        {"BIG", "localhost", TlsFailure::None, "sni=localhost\n"},
        // No revocation information to be had: accepted, as browsers do.
        {"NOCRL", "localhost", TlsFailure::None, "sni=localhost\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.server) + " as " + row.host);
        net::CSocket socket;
        ASSERT_TRUE(Connect(socket, row.server));
        net::CTlsStream tls(socket, kWait);
        const bool accepted = row.failure == TlsFailure::None;
        EXPECT_EQ(tls.Handshake(row.host), accepted) << tls.FailureText();
        EXPECT_EQ(tls.Failure(), row.failure);
        EXPECT_EQ(tls.Send("hola\n", 5), accepted);
        std::string answer(64, '\0');
        answer.resize(static_cast<std::size_t>(std::max(0, tls.Receive(answer.data(), answer.size()))));
        EXPECT_EQ(accepted ? answer : tls.FailureText(), row.text);
        socket.Close();
        const std::string log = PeerLog(row.server);
        EXPECT_EQ(log.find("data hola") != std::string::npos, accepted) << log;
        if (row.failure == TlsFailure::Handshake) {
            EXPECT_EQ(log.find("hello"), std::string::npos) << log;
        }
    }
    // The revocation list was asked for where the certificate says.
    EXPECT_NE(PeerLog("CRL").find("get /revoked-"), std::string::npos);
}
