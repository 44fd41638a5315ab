// The fetcher's tests against the scripted web server (http_server.py): settings in the real
// registry, files in a private current directory, boxes recorded.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/Errors.h"
#include "app/Identity.h"
#include "retrieval/MessageFetcher.h"
#include "tests/retrieval/ScriptedWeb.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WinTestSupport.h"
#include "win/TextCodec.h"

namespace testing_support {

using namespace std::chrono_literals;

inline const char kNoMessages[] = "No hay mensajes para este puesto de trabajo.";
inline const std::string kTxt = "202AB123.txt";  // workstation of kit QX2026AB12345678
inline const std::string kAdm = "202AB123.adm";
inline const std::string kConfig = "notelia_param.ini";
inline const std::string kConfigText = "[Timer]\r\nTimerRefresh=300\r\n";
inline constexpr unsigned long kTestTimeOut = 5000;
inline const std::string kPageHead = "Content-Type: text/html; charset=utf-8\r\n";
inline const std::string kOld = "anterior";
inline const std::string kUntrusted =
    "No se pudo verificar el certificado del servidor: no lo emitió una autoridad de confianza (error 0x800B010A).";

// A file held open with no sharing, as another program might hold it.
struct HeldFile {
    explicit HeldFile(const std::string& name)
        : handle(CreateFileW(WidenCp1252(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0,
                             nullptr)) {}
    ~HeldFile() { CloseHandle(handle); }
    HANDLE handle;
};

inline std::string Path(const std::string& name) { return "/zandu/" + name; }

// Every file of a cycle, in the order a first cycle asks for them.
inline const std::vector<std::string> kFiles = {kConfig, "mensaje.txt", "comercia.txt", kTxt, kAdm};

// Every file of a cycle under `folder`, with contents that carry `version`.
inline void PublishAll(const std::string& version, const std::string& folder = "/zandu/")
{
    CScriptedWeb::Publish(folder + kConfig, 200, kConfigText);
    CScriptedWeb::Publish(folder + "mensaje.txt", 200, "General " + version);
    CScriptedWeb::Publish(folder + "comercia.txt", 200, "Comercial " + version);
    CScriptedWeb::Publish(folder + kTxt, 200, "Operativo " + version);
    CScriptedWeb::Publish(folder + kAdm, 200, "Administrativo " + version);
}

// RemoteHost for the wrapper's server over TLS on `port`.
inline std::wstring Secure(unsigned short port) { return L"https://127.0.0.1:" + std::to_wstring(port); }

inline std::vector<std::string> Lines(const std::vector<std::string>& names)
{
    std::vector<std::string> lines;
    for (const auto& name : names) lines.push_back("GET /zandu/" + name + " HTTP/1.0");
    return lines;
}

class FetcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(CScriptedWeb::Port(), 0) << "run under tests/retrieval/http_server.py";
        CScriptedWeb::Reset();
        m_key.Set(L"RemoteHost", L"127.0.0.1");
        m_key.Set(L"TimeOut", L"3000");
        m_key.Set(L"KitId", L"QX2026AB12345678");
    }

    static std::unique_ptr<CMessageFetcher> MakeFetcher(unsigned short port = CScriptedWeb::Port(),
                                                        unsigned long timeOut = kTestTimeOut)
    {
        return std::make_unique<CMessageFetcher>(port, timeOut, &GetKitId);
    }

    // FetchFile of `name` into "mensaje.txt", on a connection of its own.
    static int Fetch(CMessageFetcher& fetcher, const std::string& name, int& changed)
    {
        const auto cycle = fetcher.NewCycle();
        EXPECT_TRUE(cycle->Connect());
        return cycle->FetchFile(name, "mensaje.txt", changed);
    }

    // FetchFile of `name` over an old copy of "mensaje.txt": the result, then the copy holds
    // `installed`, or stays as it was, time and all; `box` begins the one box shown, if any.
    void ExpectFetch(CMessageFetcher& fetcher, const std::string& name, int result, const std::string& installed,
                     const std::string& box)
    {
        m_boxes.boxes.clear();
        WriteBytes("mensaje.txt", kOld);
        const auto time = std::filesystem::last_write_time("mensaje.txt") - 1h;
        std::filesystem::last_write_time("mensaje.txt", time);
        int changed = -1;
        EXPECT_EQ(Fetch(fetcher, name, changed), result) << (m_boxes.boxes.empty() ? "" : m_boxes.boxes[0].text);
        EXPECT_EQ(changed, result == FETCH_OBTAINED ? 1 : 0);
        EXPECT_TRUE(ReadBytes("mensaje.txt") == installed) << ReadBytes("mensaje.txt").substr(0, 40);
        EXPECT_TRUE(installed != kOld || std::filesystem::last_write_time("mensaje.txt") == time);
        EXPECT_EQ(box.empty() ? "" : OneErrorBox().substr(0, box.size()), box);
        EXPECT_EQ(m_boxes.boxes.size(), box.empty() ? 0u : 1u);
    }

    // The one "ATENCION" box without owner that the download shows; answers its text.
    std::string OneErrorBox()
    {
        EXPECT_EQ(m_boxes.boxes.size(), 1u);
        if (m_boxes.boxes.empty()) return "";
        const auto& box = m_boxes.boxes[0];
        EXPECT_TRUE(box.caption == "ATENCION" && box.flags == 16u && !box.owner) << box.caption << box.flags;
        return box.text;
    }

    ScopedWorkDir m_dir;
    ScopedSettingsKey m_key;
    ScriptedBoxes m_boxes;
};

} // namespace testing_support
