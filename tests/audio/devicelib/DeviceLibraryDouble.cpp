// A stand-in for the sound card's effect library: every export notes its
// call, so that a test can check what the mixer called and in which order.
#include <cwchar>
#include <string>

namespace {
std::string g_calls;
int g_level = 0;
void Note(const std::string& call) {
    g_calls += call + ";";
}
}  // namespace

extern "C" {
int ConfLibInit() {
    Note("ConfLibInit");
    return 1;
}
int ConfLibUnInit() {
    Note("ConfLibUnInit");
    return 1;
}
int DisabletKaraokeEffect() {
    Note("DisabletKaraokeEffect");
    return 1;
}
int RecoverKaraokeEffect() {
    Note("RecoverKaraokeEffect");
    return 1;
}
int GetRecordVolumeScalar(int* level) {
    Note("GetRecordVolumeScalar");
    if (level == nullptr) {
        return 0;
    }
    *level = g_level;
    return 1;
}
int SetRecordVolumeScalar(int level) {
    Note("SetRecordVolumeScalar " + std::to_string(level));
    g_level = level;
    return 1;
}
int DumpMSG(wchar_t* destination, int size) {
    Note("DumpMSG");
    if (destination == nullptr) {
        return 0;
    }
    std::wcsncpy(destination, L"double ok", static_cast<std::size_t>(size));
    return 1;
}
// For the tests only.
const char* DeviceLibraryDoubleCalls() {
    return g_calls.c_str();
}
void DeviceLibraryDoubleClear() {
    g_calls.clear();
}
}
