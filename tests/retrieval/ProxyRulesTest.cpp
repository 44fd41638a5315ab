// The proxy texts, the Spanish network texts and the resolver's literals, as tables.
#include <gtest/gtest.h>

#include <string>

#include "app/NetworkErrorText.h"
#include "net/Connector.h"
#include "retrieval/ProxyRules.h"

namespace {

std::string Told(const std::optional<ProxyEndpoint>& endpoint)
{
    return endpoint ? endpoint->host + " " + std::to_string(endpoint->port) : "none";
}

} // namespace

TEST(ProxyRules, Setting)
{
    // Told as "kind host port"; "bad": refused.
    const std::pair<const char*, const char*> rows[] = {
        {"", "user"}, {"  ", "user"}, {"direct", "direct"}, {" DIRECT ", "direct"},
        {"proxy.corp:3128", "server proxy.corp 3128"}, {"proxy.corp", "server proxy.corp 80"},
        {"http://127.1.2.3:8080/", "server 127.1.2.3 8080"}, {"[fd00::1]:3128", "server fd00::1 3128"},
        {"proxy:0", "bad"}, {"proxy:65536", "bad"}, {"proxy:", "bad"}, {"a b:1", "bad"}, {"[fd00::1", "bad"},
        {"[fd00::1]x", "bad"}, {"proxy:80:1", "bad"}, {"http=proxy:1", "bad"},
    };
    for (const auto& [text, expected] : rows) {
        const auto setting = ParseProxySetting(text);
        std::string told = "bad";
        if (setting) {
            if (setting->kind == ProxySetting::User) told = "user";
            if (setting->kind == ProxySetting::Direct) told = "direct";
            if (setting->kind == ProxySetting::Server) told = "server " + Told(setting->server);
        }
        EXPECT_EQ(told, expected) << text;
    }
}

TEST(ProxyRules, ListsAndSchemes)
{
    struct Row {
        const char* list;
        const char* plain;
        const char* secure;
    };
    const Row rows[] = {
        {"proxy:3128", "proxy 3128", "proxy 3128"},
        {"http=web:80;https=tls:8443", "web 80", "tls 8443"},
        {"HTTP=web:81 general:82", "web 81", "general 82"},
        {"https=tls:1", "none", "tls 1"},
        {"socks=s:1080", "none", "none"},
        {"http://p1:1;p2:2", "p1 1", "p1 1"},
        {"", "none", "none"},
        {"b?d:1;http=ok:2", "ok 2", "none"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Told(ChooseProxy(row.list, false)), row.plain) << row.list;
        EXPECT_EQ(Told(ChooseProxy(row.list, true)), row.secure) << row.list;
    }
}

TEST(ProxyRules, BypassList)
{
    const std::tuple<const char*, const char*, bool> rows[] = {
        {"<local>", "intranet", true},          {"<local>", "mensajes.corp", false},
        {"<local>", "fd00::5", false},          {"*.corp;<local>", "mensajes.CORP", true},
        {"*.corp", "corp", false},              {"127.0.0.*", "127.0.0.7", true},
        {"10.*", "127.0.0.10", false},          {"a.b, c.d", "c.d", true},
        {"http://srv", "srv", true},            {"", "srv", false},
        {"s*v*r", "server", true},              {"srv", "srv2", false},
    };
    for (const auto& [list, host, bypassed] : rows) EXPECT_EQ(IsBypassed(list, host), bypassed) << list << " " << host;
}

TEST(NetworkTexts, SpanishForEveryNumberTheClientRaises)
{
    for (const unsigned long number : {12002ul, 12005ul, 12007ul, 12017ul, 12019ul, 12029ul, 12030ul, 12152ul, 407ul,
                                       10054ul, 10060ul, 10061ul, 11001ul, 11002ul, 11004ul, 995ul}) {
        const std::string text = NetworkErrorText(number);
        EXPECT_FALSE(text.empty()) << number;
        EXPECT_EQ(text.find("The "), std::string::npos) << number;
    }
    // A name that does not resolve says so, whatever the resolver's reason.
    for (const unsigned long number : {12007ul, 11001ul, 11002ul, 11004ul})
        EXPECT_EQ(NetworkErrorText(number).find("No se encontró el nombre del servidor"), 0u) << number;
    EXPECT_EQ(NumberedNetworkErrorText(407), "(407) - El servidor proxy solicita autenticación");
    EXPECT_EQ(NumberedNetworkErrorText(4294967287ul), "(4294967287) - Error no documentado.");
}

TEST(Resolver, LiteralsNeedNoLookup)
{
    const std::pair<const char*, const char*> rows[] = {
        {"127.0.0.1", "127.0.0.1"}, {"[fd00:7a6e::5]", "fd00:7a6e::5"}, {"fd00:7a6e::5", "fd00:7a6e::5"},
        {"::1", "::1"},           {"[127.0.0.1]", ""},                {"", ""},
    };
    for (const auto& [host, expected] : rows) {
        const auto found = net::ResolveAll(host, 25);
        EXPECT_EQ(found.empty() ? "" : net::AddressText(found.front()), std::string(expected)) << host;
        EXPECT_LE(found.size(), 1u) << host;
    }
}

TEST(Resolver, TheAddressThatAnsweredComesFirst)
{
    const auto first = net::ResolveAll("127.0.0.3", 80), second = net::ResolveAll("127.0.0.5", 80);
    const std::vector<net::Address> both = {first[0], second[0]};
    net::CAddressMemory memory;
    const auto order = [&](const std::vector<net::Address>& addresses) {
        std::string told;
        for (const auto& address : memory.Ordered(addresses)) told += net::AddressText(address) + " ";
        return told;
    };
    EXPECT_EQ(order(both), "127.0.0.3 127.0.0.5 ");
    memory.Remember(second[0]);
    EXPECT_EQ(order(both), "127.0.0.5 127.0.0.3 ");
    EXPECT_EQ(order(first), "127.0.0.3 ");
    memory.Remember(net::ResolveAll("127.0.0.5", 25)[0]);  // another port is another address
    EXPECT_EQ(order(both), "127.0.0.3 127.0.0.5 ");
}
