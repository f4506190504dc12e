#pragma once
// An update engine on the real system, as the Windows update tests run it: its folders
// (temp, docs, app) under a temporary root named by process id, the test's own loopback
// server as its update server, and dialogs answered from a script. The test's SetUp adds
// what its runs need (status and restart answers, a key, another system).

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "LoopbackServer.h"
#include "UpdateAnswers.h"
#include "WUpdate.h"

class TUpdateEngineFixture : public testing::Test {
protected:
    // The control file's path on the server, as the program asks for it.
    static inline const std::string kControlPath = "/softwares/Lumetra%20CONTROLBOX/V1/LumetraControlBox.INF";

    // `stem` names the temporary root ("<stem>-<process id>").
    explicit TUpdateEngineFixture(std::string stem) : FStem(std::move(stem)) {}

    void SetUp() override;
    void TearDown() override;

    // The address of /files/<name> on the loopback server.
    std::string FileUrl(const std::string& name) const;
    // The texts of the messages the run showed, in order.
    std::vector<std::wstring> Messages() const;

    TLoopbackServer Server;
    std::filesystem::path Root;
    TScriptedUpdateDialogs Dialogs;
    std::unique_ptr<TWebUpdate> Engine;

private:
    std::string FStem;
    std::wstring FSavedFolder;
};
