// The released program trusts only its publisher: built by the release preset with a
// publisher's key made for this run (released_program_test.sh), it checks for an update at
// start-up against the real update server's address, which reaches an HTTPS server of this
// machine through a web proxy (a throw-away certificate authority, trusted by this Wine
// prefix for the run). A control file without its signature, or with a forged one, is told
// and installs nothing; the same release signed by the publisher is installed.
//
// Set by the script: LUMETRA_RELEASED_EXE (the program as the installer ships it),
// LUMETRA_PUBLISHER_KEY (the private key, a host path), LUMETRA_TLS_CA (the authority, DER,
// a Windows path), LUMETRA_TLS_HOST (the update server's host, as the release was built),
// LUMETRA_TLS_PORT (the HTTPS server's port), LUMETRA_TLS_WWW (the folder it serves: each
// file holds a whole HTTP answer; a Windows path).

#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcessWin32.h"
#include "ControlFileText.h"
#include "HostOpenssl.h"
#include "LoopbackServer.h"
#include "ReleaseCrypto.h"
#include "ReleaseVerifier.h"
#include "SimulatorRunWin32.h"
#include "TempRoot.h"
#include "TextUtils.h"
#include "WholeFile.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kControlPath = "softwares/Lumetra%20CONTROLBOX/V1/LumetraControlBox.INF";

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string Sha256Of(const std::string& text) {
    auto hash = MakeSystemReleaseCrypto()->NewSha256();
    hash->Add(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    return WideToUtf8(Sha256Hex(*hash->Finish()));
}

// A whole HTTP answer, as the HTTPS server sends a file of its folder.
std::string Answer(int status, const std::string& body) {
    return "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Not Found") +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// The authority is trusted by this user while the test runs, and no longer after. The
// store is closed after each change: that is when it is written where other programs read it.
class TTrustedAuthority {
public:
    explicit TTrustedAuthority(const std::string& der)
        : FCertificate(CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                    static_cast<DWORD>(der.size()))) {
        if (FCertificate == nullptr) return;
        HCERTSTORE store = OpenRoot();
        if (store == nullptr) return;
        Added = CertAddCertificateContextToStore(store, FCertificate, CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
        CertCloseStore(store, 0);
    }
    ~TTrustedAuthority() {
        if (FCertificate == nullptr) return;
        if (HCERTSTORE store = OpenRoot()) {
            if (PCCERT_CONTEXT found =
                    CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, FCertificate, nullptr))
                CertDeleteCertificateFromStore(found);  // frees it too
            CertCloseStore(store, 0);
        }
        CertFreeCertificateContext(FCertificate);
    }
    TTrustedAuthority(const TTrustedAuthority&) = delete;
    TTrustedAuthority& operator=(const TTrustedAuthority&) = delete;
    bool Added = false;

private:
    static HCERTSTORE OpenRoot() {
        return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    }
    PCCERT_CONTEXT FCertificate;
};

struct TOutcome {
    std::vector<std::wstring> Boxes;  // the texts of the message boxes it showed
    bool Installed = false;
    std::string Seen;  // what else it showed, for a failure's message
};

// The top-level windows of `process`, by class and title.
std::string WindowsSeen(DWORD process) {
    std::string seen;
    for (HWND window = GetTopWindow(nullptr); window != nullptr; window = GetWindow(window, GW_HWNDNEXT)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != process) continue;
        wchar_t name[64] = L"", title[256] = L"";
        GetClassNameW(window, name, 64);
        GetWindowTextW(window, title, 256);
        seen += " [" + WideToUtf8(name) + " \"" + WideToUtf8(title) + "\"" +
                (IsWindowVisible(window) ? " visible" : "") + "]";
    }
    return seen;
}

// The texts of the message boxes `process` shows, each closed once read when `close`. A
// box still being made has no text yet: it is read at a later look.
void ReadBoxes(DWORD process, std::vector<std::wstring>& texts, bool close) {
    for (HWND box : WindowsOfProcess(process, L"#32770")) {
        wchar_t text[1024] = {};
        if (GetDlgItemTextW(box, 0xFFFF, text, 1024) == 0) continue;
        texts.push_back(text);
        if (close) PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
}

class ReleasedProgram : public testing::Test {
protected:
    void SetUp() override {
        FExe = Environment("LUMETRA_RELEASED_EXE");
        FWww = Environment("LUMETRA_TLS_WWW");
        if (FExe.empty() || FWww.empty())
            GTEST_SKIP() << "run by released_program_test.sh, which builds the release and serves it";
        FRoot = TempRoot("lumetra-released");
        fs::create_directories(FRoot);
        FAppName = L"ReleasedProgram" + std::to_wstring(GetCurrentProcessId());
        ForgetSettings(FAppName);
        FProxy.TunnelTo(std::stoi(Environment("LUMETRA_TLS_PORT")));
        // The program's requests go to the proxy, as a user's behind one do.
        const std::wstring proxy = FProxy.Base();
        SetEnvironmentVariableW(L"http_proxy", proxy.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"http_proxy", nullptr);
        if (!FAppName.empty()) ForgetSettings(FAppName);
        std::error_code error;
        if (!FRoot.empty()) fs::remove_all(FRoot, error);
    }

    void Serve(const std::string& path, const std::string& answer) {
        const fs::path file = fs::path(FWww) / fs::path(path).make_preferred();
        fs::create_directories(file.parent_path());
        Spill(file, answer);
    }

    // The publisher's signature of `text`, with the key the release was built with.
    std::string Sign(const std::string& text) {
        const fs::path file = FRoot / "control.txt";
        const fs::path signature = FRoot / "control.txt.sig";
        Spill(file, text);
        std::error_code error;
        fs::remove(signature, error);
        EXPECT_TRUE(Openssl("dgst -sha256 -sign '" + Environment("LUMETRA_PUBLISHER_KEY") + "' -out " +
                                Unix(signature) + " " + Unix(file),
                            FRoot));
        return Slurp(signature);
    }

    // Starts the released program in a folder of its own, lets its start-up check run, and
    // tells what it showed (each message box is read and closed) until `done` holds, a box
    // was shown, or a minute has passed.
    TOutcome RunProgram(const fs::path& installed) {
        const fs::path folder = FRoot / ("run" + std::to_string(++FRuns));
        fs::create_directories(folder);
        const fs::path exe = folder / (FAppName + L".exe");
        EXPECT_TRUE(CopyFileW(Utf8ToWide(FExe).c_str(), exe.wstring().c_str(), FALSE));
        ForgetSettings(FAppName);
        TOutcome outcome;
        TChildProcess program(exe.wstring(), QuotedCommandLine(exe.wstring()), TChildProcess::TOptions::InFolder(folder.wstring()));
        EXPECT_TRUE(program.Started()) << program.StartError();
        const auto until = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < until && outcome.Boxes.empty()) {
            ReadBoxes(program.Id(), outcome.Boxes, true);
            if (fs::exists(folder / installed)) {
                // Given a moment to tell anything it would tell after installing.
                std::this_thread::sleep_for(1s);
                ReadBoxes(program.Id(), outcome.Boxes, false);
                break;
            }
            std::this_thread::sleep_for(100ms);
        }
        outcome.Installed = fs::exists(folder / installed);
        outcome.Seen = "windows:" + WindowsSeen(program.Id());
        program.Terminate();
        wchar_t appData[MAX_PATH] = L"";
        GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH);
        std::error_code error;
        const fs::path trace = fs::path(appData) / L"Lumetra" / FAppName / L"Error.log";
        if (fs::exists(trace, error)) outcome.Seen += "\ntrace: " + Slurp(trace);
        return outcome;
    }

    std::string FExe, FWww;
    fs::path FRoot;
    std::wstring FAppName;
    TLoopbackServer FProxy;
    int FRuns = 0;
};

TEST_F(ReleasedProgram, TakesOnlyReleasesSignedByItsPublisher) {
    TTrustedAuthority authority(Slurp(fs::path(Environment("LUMETRA_TLS_CA"))));
    ASSERT_TRUE(authority.Added) << GetLastError();

    const std::string readme = "What is new in the release signed by the publisher\r\n";
    // Dated today (UTC): a released program never takes a release dated before its build.
    const std::string control = "[update]\r\nunconditional=1\r\ndate=" +
                                WideToUtf8(FormatShortDate(UtcNow())) +
                                "\r\ntime=00:00\r\n[files]\r\ncount=1\r\n[file1]\r\nurl=https://" +
                                Environment("LUMETRA_TLS_HOST") +
                                "/release/readme.txt\r\ntargetdir={APP}\r\nsha256=" + Sha256Of(readme) + "\r\n";
    Serve("release/readme.txt", Answer(200, readme));
    Serve(kControlPath, Answer(200, control));
    const std::string signature = Sign(control);
    std::string forged = signature;
    forged[forged.size() / 2] ^= 0x5A;

    const struct {
        const char* Name;
        std::string SignatureAnswer;
        bool Installed;
    } cases[] = {
        {"no signature", Answer(404, "not here"), false},
        {"a forged signature", Answer(200, forged), false},
        {"signed by the publisher", Answer(200, signature), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Serve(std::string(kControlPath) + ".sig", c.SignatureAnswer);
        const int tunnelsBefore = FProxy.Tunnels();
        const TOutcome outcome = RunProgram("readme.txt");
        EXPECT_GT(FProxy.Tunnels(), tunnelsBefore) << "the program did not reach the update server";
        std::string told;
        for (const std::wstring& box : outcome.Boxes) told += " [" + WideToUtf8(box) + "]";
        told += "\n" + outcome.Seen;
        EXPECT_EQ(outcome.Installed, c.Installed) << told;
        if (c.Installed) {
            EXPECT_TRUE(outcome.Boxes.empty()) << told;
        } else {
            ASSERT_EQ(outcome.Boxes.size(), 1u) << told;
            EXPECT_NE(outcome.Boxes[0].find(L"Invalid signature in update control file"), std::wstring::npos)
                << WideToUtf8(outcome.Boxes[0]);
        }
    }
}

}  // namespace
