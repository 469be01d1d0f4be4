#include "Scenario.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

std::wstring MendraApi::Messages() const {
    wchar_t buffer[4096];
    if (DumpMSG(buffer, 4096) != 1)
        return L"<DumpMSG failed>";
    return buffer;
}

namespace {

template <typename F>
void Bind(void* lib, const char* name, F& out) {
    out = reinterpret_cast<F>(dlsym(lib, name));
    if (out == nullptr) {
        ADD_FAILURE() << "missing export " << name;
    }
}

void Child(const ScenarioOptions& options, const std::function<void(MendraApi&)>& body) {
    char pattern[] = "/tmp/mendra-config-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        ::_exit(3);
    MendraApi api{};
    api.configHome = pattern;
    ::setenv("XDG_CONFIG_HOME", pattern, 1);
    if (!options.platformVersion.empty())
        ::setenv("VOKARI_PLATFORM_VERSION", options.platformVersion.c_str(), 1);
    if (options.prepare)
        options.prepare(api.configHome);

    void* mendra = dlopen((options.folder + "libMendra.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (mendra == nullptr) {
        ADD_FAILURE() << dlerror();
        ::_exit(2);
    }
    Bind(mendra, "ConfLibInit", api.ConfLibInit);
    Bind(mendra, "ConfLibUnInit", api.ConfLibUnInit);
    Bind(mendra, "DisabletKaraokeEffect", api.DisabletKaraokeEffect);
    Bind(mendra, "RecoverKaraokeEffect", api.RecoverKaraokeEffect);
    Bind(mendra, "GetRecordVolumeScalar", api.GetRecordVolumeScalar);
    Bind(mendra, "SetRecordVolumeScalar", api.SetRecordVolumeScalar);
    Bind(mendra, "GetVersions", api.GetVersions);
    Bind(mendra, "DumpMSG", api.DumpMSG);
    if (options.withDouble) {
        void* layer = dlopen((options.folder + "libZelto.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (layer == nullptr) {
            ADD_FAILURE() << dlerror();
            ::_exit(2);
        }
        DoubleState* (*state)() = nullptr;
        Bind(layer, "ZeltoDoubleState", state);
        Bind(layer, "ZeltoDoubleReset", api.Reset);
        Bind(layer, "ZeltoDoubleFail", api.Fail);
        Bind(layer, "ZeltoDoubleFailAll", api.FailAll);
        api.hw = state();
    }
    if (!::testing::Test::HasFailure())
        body(api);
    std::error_code ec;
    std::filesystem::remove_all(pattern, ec);
    std::fflush(stdout);
    ::_exit(::testing::Test::HasFailure() ? 1 : 0);
}

}  // namespace

void RunScenario(const ScenarioOptions& options, const std::function<void(MendraApi&)>& body) {
    std::fflush(stdout);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
        Child(options, body);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status))
        << "the scenario crashed (signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0) << ")";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the scenario's assertions failed (see above)";
}
